#include "tests/nand_system/nand_test_support.h"

#include <gtest/gtest.h>

#include <fstream>

#include "board/gpio.h"
#include "flash/flash_ops.h"
#include "flash/nand/nand_flash.h"
#include "tests/support/test_module.h"

namespace nand_test {

void ResetSystemState() {
    testing_support::reset_flash_state();
    NandBackendReset();
    GpioInitialised = FALSE;
    GpioWindow = nullptr;
    PinFunctionWindow = nullptr;
}

std::unique_ptr<testing_support::TestModule> OpenNand(const std::string& profile, std::vector<std::string> overrides,
                                                      bool select) {
    ResetSystemState();
    auto module = std::make_unique<testing_support::TestModule>(profile, overrides);
    if (select) {
        EXPECT_EQ(kFlashBackendNand, SelectFlashBackend()) << profile;
    }
    return module;
}

static std::vector<uint8_t> ReadRange(const std::filesystem::path& path, uint64_t offset, uint64_t length) {
    std::vector<uint8_t> out(length, 0xFF);
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return out;
    }
    file.seekg(0, std::ios::end);
    uint64_t size = static_cast<uint64_t>(file.tellg());
    if (offset >= size) {
        return out;
    }
    uint64_t available = std::min<uint64_t>(length, size - offset);
    file.seekg(static_cast<std::streamoff>(offset));
    file.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(available));
    return out;
}

std::vector<uint8_t> RawChip::main_range(uint64_t offset, uint64_t length) const {
    return ReadRange(main_path, offset, length);
}

std::vector<uint8_t> RawChip::oob_range(uint64_t offset, uint64_t length) const {
    return ReadRange(oob_path, offset, length);
}

RawChip ReadChip(testing_support::TestModule& module, unsigned chip) {
    std::filesystem::path dir = module.dir() / "module";
    return RawChip{dir / ("nand-" + std::to_string(chip) + ".main"), dir / ("nand-" + std::to_string(chip) + ".oob")};
}

void PokeChipFile(testing_support::TestModule& module, const std::string& name, uint64_t offset,
                  const std::vector<uint8_t>& bytes) {
    testing_support::poke_file(module.file(name), offset, bytes);
}

std::vector<std::array<uint32_t, 3>> Commands(const testing_support::BusRecorder& recorder) {
    std::vector<std::array<uint32_t, 3>> commands;
    std::vector<uint32_t> words = WritesTo(recorder, kNdcb0Address);
    for (size_t i = 0; i + 3 <= words.size(); i += 3) {
        commands.push_back({words[i], words[i + 1], words[i + 2]});
    }
    return commands;
}

std::vector<uint32_t> WritesTo(const testing_support::BusRecorder& recorder, uint32_t phys) {
    std::vector<uint32_t> values;
    for (const testing_support::RecordedAccess& access : recorder.accesses()) {
        if (access.write && access.phys == phys) {
            values.push_back(access.value);
        }
    }
    return values;
}

std::vector<uint8_t> Pattern(size_t length, uint32_t seed) {
    std::vector<uint8_t> bytes(length);
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 0; i < length; i++) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<uint8_t>(state >> 16);
        // Keep clear of 0xFF so that every byte shows whether it was programmed.
        if (bytes[i] == 0xFF) {
            bytes[i] = 0x5A;
        }
    }
    return bytes;
}

}  // namespace nand_test
