// Address reservations, physical windows and the register accessors.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "module/os/windows_table.h"
#include "platform/ceddk.h"
#include "platform/pkfuncs.h"
#include "platform/winbase.h"
#include "tests/os/os_test_devices.h"
#include "tests/support/test_module.h"

namespace {

using testing_support::BusRecorder;
using testing_support::TestModule;

constexpr DWORD kWindowProtection = PAGE_READWRITE | PAGE_NOCACHE | PAGE_PHYSICAL;
constexpr uint32_t kScratchBase = 0x40E10000;

class WindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_ = module_.module().own(std::make_unique<os_tests::ScratchRegisters>());
        module_.module().bus().map(kScratchBase, 0x2000, scratch_);
    }
    void TearDown() override {
        for (void* base : reserved_) VirtualFree(base, 0, MEM_RELEASE);
    }
    // Reserves and commits a window as the system's board code does.
    volatile ULONG* map(uint32_t physical, DWORD size) {
        void* base = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
        EXPECT_NE(base, nullptr);
        reserved_.push_back(base);
        EXPECT_TRUE(
            VirtualCopy(base, reinterpret_cast<void*>(static_cast<uintptr_t>(physical >> 8)), size, kWindowProtection));
        return static_cast<volatile ULONG*>(base);
    }
    TestModule module_{"pxa270"};
    os_tests::ScratchRegisters* scratch_ = nullptr;
    std::vector<void*> reserved_;
};

TEST_F(WindowsTest, RegisterAccessesReachTheBusAtTheirPhysicalAddress) {
    volatile ULONG* window = map(kScratchBase, 0x2000);
    BusRecorder recorder(module_.module());
    WRITE_REGISTER_ULONG(window + 0xB4 / 4, 0x12345678);
    EXPECT_EQ(READ_REGISTER_ULONG(window + 0xB4 / 4), 0x12345678u);
    EXPECT_EQ(READ_REGISTER_ULONG(window + 0x1FFC / 4), 0xA0001FFCu);
    ASSERT_EQ(recorder.accesses().size(), 3u);
    EXPECT_EQ(recorder.accesses()[0].phys, kScratchBase + 0xB4);
    EXPECT_TRUE(recorder.accesses()[0].write);
    EXPECT_EQ(recorder.accesses()[0].value, 0x12345678u);
    EXPECT_EQ(recorder.accesses()[1].phys, kScratchBase + 0xB4);
    EXPECT_FALSE(recorder.accesses()[1].write);
    EXPECT_EQ(recorder.accesses()[2].phys, kScratchBase + 0x1FFC);
}

TEST_F(WindowsTest, TwoWindowsAreTwoPlacesOnTheBus) {
    // Alternating between windows must not let the cached window leak over.
    volatile ULONG* first = map(kScratchBase, 0x1000);
    volatile ULONG* second = map(kScratchBase + 0x1000, 0x1000);
    WRITE_REGISTER_ULONG(first, 1);
    WRITE_REGISTER_ULONG(second, 2);
    WRITE_REGISTER_ULONG(first + 1, 3);
    EXPECT_EQ(scratch_->values[0x0], 1u);
    EXPECT_EQ(scratch_->values[0x1000], 2u);
    EXPECT_EQ(scratch_->values[0x4], 3u);
}

TEST_F(WindowsTest, AWindowOverTwoDevicesReachesEachAtItsOwnOffsets) {
    auto* second = module_.module().own(std::make_unique<os_tests::ScratchRegisters>());
    module_.module().bus().map(kScratchBase + 0x2000, 0x1000, second);
    volatile ULONG* window = map(kScratchBase, 0x4000);  // its last page decodes nothing
    // Back and forth across the boundary: what is kept for one device must not answer for the other.
    WRITE_REGISTER_ULONG(window + 0x1FFC / 4, 1);
    WRITE_REGISTER_ULONG(window + 0x2000 / 4, 2);
    WRITE_REGISTER_ULONG(window + 0x1FFC / 4, 3);
    WRITE_REGISTER_ULONG(window + 0x2FFC / 4, 4);
    EXPECT_EQ(READ_REGISTER_ULONG(window + 0x2000 / 4), 2u);
    EXPECT_EQ(scratch_->values, (std::map<uint32_t, uint32_t>{{0x1FFC, 3}}));
    EXPECT_EQ(second->values, (std::map<uint32_t, uint32_t>{{0x0, 2}, {0xFFC, 4}}));
    EXPECT_DEATH(READ_REGISTER_ULONG(window + 0x3000 / 4), "no device at physical address 0x40e13000");
}

TEST_F(WindowsTest, AReopenedModuleAnswersThroughTheSameWindow) {
    volatile ULONG* window = map(0, 0x10000);  // the NOR pair
    WRITE_REGISTER_ULONG(window, 0x00900090);  // Read Identifier
    EXPECT_EQ(READ_REGISTER_ULONG(window), 0x00890089u);
    module_.reopen();
    // A new pair starts in read-array mode: the erased array answers, not the old pair.
    EXPECT_EQ(READ_REGISTER_ULONG(window), 0xFFFFFFFFu);
    sim::Module::close_current();
    EXPECT_DEATH(READ_REGISTER_ULONG(window), "no module open");
}

TEST_F(WindowsTest, TheTableListsCommittedWindowsUntilReleased) {
    volatile ULONG* window = map(kScratchBase, 0x2000);
    std::vector<sim::CommittedWindow> list = sim::committed_windows();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].virtual_base, reinterpret_cast<uintptr_t>(window));
    EXPECT_EQ(list[0].physical_base, kScratchBase);
    EXPECT_EQ(list[0].size, 0x2000u);
    EXPECT_FALSE(list[0].via_hal);
    EXPECT_FALSE(list[0].direct_readable);
    EXPECT_TRUE(VirtualFree(const_cast<ULONG*>(window), 0, MEM_RELEASE));
    reserved_.clear();
    EXPECT_TRUE(sim::committed_windows().empty());
}

TEST_F(WindowsTest, CommitsOutsideTheRulesFail) {
    void* base = VirtualAlloc(nullptr, 0x2000, MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_NE(base, nullptr);
    reserved_.push_back(base);
    char* bytes = static_cast<char*>(base);
    void* physical = reinterpret_cast<void*>(static_cast<uintptr_t>(kScratchBase >> 8));
    struct Case {
        void* destination;
        void* source;
        DWORD size;
        DWORD protect;
    };
    // clang-format off
    const Case cases[] = {
        {bytes + 0x10, physical, 0x1000, kWindowProtection},                  // not page aligned
        {bytes, physical, 0x3000, kWindowProtection},                         // past the reservation
        {bytes + 0x1000, physical, 0x2000, kWindowProtection},               // runs out of it
        {bytes, reinterpret_cast<void*>(0x40E1001), 0x1000, kWindowProtection},  // physical not a page
        {bytes, physical, 0x1000, PAGE_READWRITE},                            // no physical address
        {bytes, physical, 0, kWindowProtection},
        {reinterpret_cast<char*>(0x1000), physical, 0x1000, kWindowProtection},  // no reservation there
    };
    // clang-format on
    for (const Case& c : cases) EXPECT_FALSE(VirtualCopy(c.destination, c.source, c.size, c.protect));
    EXPECT_TRUE(sim::committed_windows().empty());
    // The same pages cannot be committed twice.
    EXPECT_TRUE(VirtualCopy(bytes, physical, 0x1000, kWindowProtection));
    EXPECT_FALSE(VirtualCopy(bytes, physical, 0x1000, kWindowProtection));
}

TEST_F(WindowsTest, APlainLoadFromARegisterWindowFaults) {
    volatile ULONG* window = map(kScratchBase, 0x2000);
    EXPECT_DEATH(
        {
            ULONG value = window[0];
            (void)value;
        },
        "");
    EXPECT_DEATH({ window[1] = 5; }, "");
}

TEST_F(WindowsTest, AccessesOutsideEveryWindowStopTheProgram) {
    volatile ULONG* window = map(kScratchBase, 0x2000);
    ULONG plain_memory = 0;
    EXPECT_DEATH(READ_REGISTER_ULONG(&plain_memory), "data abort");
    EXPECT_DEATH(WRITE_REGISTER_ULONG(window + 0x2000 / 4, 1), "data abort");
    EXPECT_DEATH(READ_REGISTER_ULONG(reinterpret_cast<volatile ULONG*>(reinterpret_cast<uintptr_t>(window) + 2)),
                 "unaligned");
    // A released window is gone for the accessors too.
    READ_REGISTER_ULONG(window);
    VirtualFree(const_cast<ULONG*>(window), 0, MEM_RELEASE);
    reserved_.clear();
    EXPECT_DEATH(READ_REGISTER_ULONG(window), "data abort");
}

TEST_F(WindowsTest, TheNorArrayIsReadableAsPlainMemory) {
    // Put a pattern into the array file the NOR pair maps.
    std::filesystem::path array = module_.module().dir() / "nor.bin";
    ASSERT_TRUE(std::filesystem::exists(array));
    FILE* file = std::fopen(array.c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    const char pattern[] = "bootloader bytes";
    std::fseek(file, 0x1000, SEEK_SET);
    std::fwrite(pattern, 1, sizeof pattern, file);
    std::fclose(file);

    volatile ULONG* window = map(0, 0x10000);
    std::vector<sim::CommittedWindow> list = sim::committed_windows();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_TRUE(list[0].direct_readable);
    char copy[sizeof pattern];
    std::memcpy(copy, const_cast<const char*>(reinterpret_cast<volatile char*>(window)) + 0x1000, sizeof copy);
    EXPECT_STREQ(copy, pattern);
    // Still no plain stores.
    EXPECT_DEATH({ window[0] = 0; }, "");
}

TEST(WindowsOs6, UserModeMayNotCommitPhysicalPages) {
    TestModule module("pxa270", {"os.major=6"});
    void* base = VirtualAlloc(nullptr, 0x1000, MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_NE(base, nullptr);
    SetLastError(0);
    EXPECT_FALSE(VirtualCopy(base, reinterpret_cast<void*>(0x40E100), 0x1000, kWindowProtection));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(sim::committed_windows().empty());
    EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
}

TEST(Reservations, ReserveAndRelease) {
    TestModule module("pxa270");
    void* base = VirtualAlloc(nullptr, 0x2001, MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(base) % 0x10000, 0u);
    EXPECT_DEATH({ *static_cast<volatile char*>(base) = 1; }, "");
    EXPECT_FALSE(VirtualFree(static_cast<char*>(base) + 0x1000, 0, MEM_RELEASE));
    EXPECT_FALSE(VirtualFree(base, 0x2000, MEM_RELEASE));
    EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
    EXPECT_FALSE(VirtualFree(base, 0, MEM_RELEASE));
    EXPECT_EQ(VirtualAlloc(nullptr, 0, MEM_RESERVE, PAGE_NOACCESS), nullptr);
    EXPECT_EQ(VirtualAlloc(nullptr, 0xFFFFFFFFu, MEM_RESERVE, PAGE_NOACCESS), nullptr);
}

TEST(LocalHeap, AllocatesZeroesAndRefusesBadRequests) {
    TestModule module("pxa270", {"os.alloc_limit=0x100000"});
    unsigned char* zeroed = static_cast<unsigned char*>(LocalAlloc(LPTR, 4096));
    ASSERT_NE(zeroed, nullptr);
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(zeroed[i], 0) << i;
    EXPECT_EQ(LocalFree(zeroed), nullptr);
    unsigned char* raw = static_cast<unsigned char*>(LocalAlloc(LMEM_FIXED, 64));
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(LocalFree(raw), nullptr);
    // A second free is refused, not a heap corruption.
    EXPECT_EQ(LocalFree(raw), raw);
    EXPECT_EQ(LocalAlloc(LPTR, 0), nullptr);
    EXPECT_EQ(LocalAlloc(LPTR, 0x100001), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(LocalAlloc(LPTR, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(LocalFree(nullptr), nullptr);
}

}  // namespace
