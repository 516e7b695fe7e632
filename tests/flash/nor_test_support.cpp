#include "tests/flash/nor_test_support.h"

#include <gtest/gtest.h>

#include <fstream>

#include "flash/flash_ops.h"
#include "flash/nor/nor_flash.h"
#include "platform/ceddk.h"
#include "platform/windows.h"
#include "tests/support/test_module.h"

namespace flash_test {

void ResetFlashState() { testing_support::reset_flash_state(); }

std::unique_ptr<testing_support::TestModule> OpenModule(const std::string& profile,
                                                        const std::vector<std::string>& overrides, int* selected) {
    ResetFlashState();
    auto module = std::make_unique<testing_support::TestModule>(profile, overrides);
    *selected = SelectFlashBackend();
    return module;
}

std::unique_ptr<testing_support::TestModule> OpenNor(const std::string& profile,
                                                     const std::vector<std::string>& overrides) {
    int selected = 0;
    auto module = OpenModule(profile, overrides, &selected);
    EXPECT_EQ(kFlashBackendNor, selected);
    return module;
}

std::vector<uint8_t> PeekFlash(testing_support::TestModule& module, uint32_t offset, uint32_t length) {
    return testing_support::peek_file(module.file("nor.bin"), offset, length);
}

void PokeFlash(testing_support::TestModule& module, uint32_t offset, const std::vector<uint8_t>& bytes) {
    testing_support::poke_file(module.file("nor.bin"), offset, bytes);
}

uint32_t LockWord(uint32_t blockOffset) {
    WRITE_REGISTER_ULONG(NorWindow + blockOffset / 4, 0x00900090);
    uint32_t lock = READ_REGISTER_ULONG(NorWindow + (blockOffset + 8) / 4);
    WRITE_REGISTER_ULONG(NorWindow + blockOffset / 4, 0x00FF00FF);
    return lock;
}

void LockBlock(uint32_t blockOffset) {
    WRITE_REGISTER_ULONG(NorWindow + blockOffset / 4, 0x00600060);
    WRITE_REGISTER_ULONG(NorWindow + blockOffset / 4, 0x00010001);
    for (int polls = 0; (READ_REGISTER_ULONG(NorWindow + blockOffset / 4) & 0x00800080) != 0x00800080; polls++) {
        ASSERT_LT(polls, 1000000) << "the pair never finished setting the lock bit";
    }
    WRITE_REGISTER_ULONG(NorWindow + blockOffset / 4, 0x00FF00FF);
}

std::vector<Write> Writes(const testing_support::BusRecorder& recorder) {
    std::vector<Write> out;
    for (const auto& access : recorder.accesses())
        if (access.write) out.push_back({access.phys, access.value});
    return out;
}

std::vector<uint32_t> WritesOf(const testing_support::BusRecorder& recorder, uint32_t value) {
    std::vector<uint32_t> out;
    for (const auto& access : recorder.accesses())
        if (access.write && access.value == value) out.push_back(access.phys);
    return out;
}

}  // namespace flash_test
