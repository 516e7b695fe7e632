// The board HAL's requests through KernelIoControl, observed in the caller's
// buffers, the module directory and the event log.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "module/hw/cpu.h"
#include "module/observer.h"
#include "module/os/windows_table.h"
#include "platform/pkfuncs.h"
#include "platform/winbase.h"
#include "platform/winreg.h"
#include "tests/support/test_module.h"

namespace {

using testing_support::TestModule;

constexpr DWORD kReboot = 0x0101003C;
constexpr DWORD kGetImageVersion = 0x0101200C;
constexpr DWORD kClearRegistry = 0x01012010;
constexpr DWORD kGetConfigItem = 0x01012028;
constexpr DWORD kSetConfigItem = 0x0101202C;
constexpr DWORD kCallKernelMode = 0x010120D0;

// The request layouts as the system lays them out.
struct ItemRequest {
    DWORD item;
    void* buffer;
    DWORD length;
};
struct RoutineRequest {
    DWORD operation;
    void* routine;
    ULONG_PTR argument;
};
struct CommitRequest {
    DWORD operation;
    void* destination;
    DWORD physicalBy256;
    DWORD size;
    DWORD protection;
};

std::string events(TestModule& module) {
    std::ifstream in(module.module().dir() / "events.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct ItemResult {
    BOOL ok;
    DWORD returned;
    std::vector<uint8_t> bytes;
};

ItemResult get_item(DWORD item, DWORD length, DWORD out_size) {
    std::vector<uint8_t> buffer(64, 0xEE);
    ItemRequest request{item, buffer.data(), length};
    DWORD returned = 0xDEAD;
    BOOL ok = KernelIoControl(kGetConfigItem, &request, sizeof request, buffer.data(), out_size, &returned);
    return {ok, returned, buffer};
}

TEST(ConfigItems, ReadFromTheProfileAndCutToTheSmallestLength) {
    TestModule module("pxa270", {"hal.item0=[0x11223344, 0x55667788]", "hal.item7=[1, 2, 3]"});
    struct Case {
        DWORD item, length, out_size;
        BOOL ok;
        DWORD returned;
    };
    // clang-format off
    const Case cases[] = {
        {0, 8, 8, TRUE, 8},
        {0, 24, 24, TRUE, 8},     // the item is shorter than the buffer
        {0, 4, 8, TRUE, 4},       // the request's length bounds the copy
        {0, 8, 2, TRUE, 2},       // so does the output size
        {5, 24, 24, TRUE, 24},
        {7, 24, 24, TRUE, 12},    // any item N from hal.itemN
        {3, 24, 24, FALSE, 0},    // missing
    };
    // clang-format on
    for (const Case& c : cases) {
        ItemResult r = get_item(c.item, c.length, c.out_size);
        EXPECT_EQ(r.ok, c.ok) << c.item << "/" << c.length << "/" << c.out_size;
        EXPECT_EQ(r.returned, c.returned) << c.item << "/" << c.length << "/" << c.out_size;
        // Bytes past the count are untouched.
        EXPECT_EQ(r.bytes[c.returned], 0xEE);
    }
    ItemResult item0 = get_item(0, 8, 8);
    const uint8_t expected[8] = {0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55};
    EXPECT_EQ(std::memcmp(item0.bytes.data(), expected, 8), 0);
}

TEST(ConfigItems, ARemovedKeyIsAMissingItem) {
    TestModule module("pxa270", {"-hal.item5"});
    ItemResult r = get_item(5, 24, 24);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.returned, 0u);
}

TEST(ConfigItems, SetStoresLogsAndOverridesTheProfileAfterARestart) {
    TestModule module("pxa270");
    uint8_t data[8] = {9, 8, 7, 6, 5, 4, 3, 2};
    ItemRequest request{0, data, sizeof data};
    EXPECT_TRUE(KernelIoControl(kSetConfigItem, &request, sizeof request, data, sizeof data, nullptr));
    EXPECT_NE(events(module).find("config item 0 set"), std::string::npos);
    EXPECT_EQ(module.read_file("hal/item-0.bin"), std::vector<uint8_t>(data, data + 8));
    module.reopen();
    ItemResult r = get_item(0, 8, 8);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(std::vector<uint8_t>(r.bytes.begin(), r.bytes.begin() + 8), std::vector<uint8_t>(data, data + 8));

    ItemRequest empty{1, data, 0};
    EXPECT_FALSE(KernelIoControl(kSetConfigItem, &empty, sizeof empty, nullptr, 0, nullptr));
    EXPECT_FALSE(KernelIoControl(kSetConfigItem, &request, 4, nullptr, 0, nullptr));
}

TEST(ImageVersion, WritesTwelveBytesEvenWithOutputSizeZero) {
    TestModule module("pxa270", {"image.version=[1, 2, 0x00030007]"});
    DWORD record[4] = {0xEEEEEEEE, 0xEEEEEEEE, 0xEEEEEEEE, 0xEEEEEEEE};
    KernelIoControl(kGetImageVersion, nullptr, 0, record, 0, nullptr);
    EXPECT_EQ(record[0], 1u);
    EXPECT_EQ(record[1], 2u);
    EXPECT_EQ(record[2], 0x00030007u);
    EXPECT_EQ(record[3], 0xEEEEEEEEu);
}

TEST(ImageVersion, WithoutTheKeyNothingIsWritten) {
    TestModule module("pxa270", {"-image.version"});
    DWORD record[3] = {7, 7, 7};
    EXPECT_FALSE(KernelIoControl(kGetImageVersion, nullptr, 0, record, 0, nullptr));
    EXPECT_EQ(record[0], 7u);
    EXPECT_EQ(record[2], 7u);
    // A given output size too small for the record is refused, not overrun.
    TestModule other("pxa270");
    DWORD small[3] = {7, 7, 7};
    EXPECT_FALSE(KernelIoControl(kGetImageVersion, nullptr, 0, small, 8, nullptr));
    EXPECT_EQ(small[0], 7u);
}

TEST(ClearRegistry, RemovesTheSavedRegistry) {
    TestModule module("pxa270");
    ASSERT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), 0);
    ASSERT_TRUE(std::filesystem::exists(module.module().dir() / "registry.saved"));
    EXPECT_TRUE(KernelIoControl(kClearRegistry, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_FALSE(std::filesystem::exists(module.module().dir() / "registry.saved"));
    EXPECT_NE(events(module).find("registry cleared"), std::string::npos);
}

TEST(ClearRegistry, AHalWithoutItFails) {
    TestModule module("pxa270", {"hal.clear_registry=false"});
    RegFlushKey(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(KernelIoControl(kClearRegistry, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_TRUE(std::filesystem::exists(module.module().dir() / "registry.saved"));
}

TEST(Reboot, ColdAndWarmAreLoggedAndHandedToTheHost) {
    TestModule module("pxa270");
    std::vector<bool> reboots;
    sim::observer().reboot = [&](bool cold) { reboots.push_back(cold); };
    SetCleanRebootFlag();
    DWORD cold = 0;
    EXPECT_FALSE(KernelIoControl(kReboot, &cold, sizeof cold, nullptr, 0, nullptr));
    EXPECT_FALSE(KernelIoControl(kReboot, nullptr, 0, nullptr, 0, nullptr));
    sim::observer().reboot = nullptr;
    EXPECT_EQ(reboots, (std::vector<bool>{true, false}));
    std::string log = events(module);
    size_t clean = log.find("clean reboot requested");
    size_t first = log.find("reboot cold");
    ASSERT_NE(clean, std::string::npos);
    ASSERT_NE(first, std::string::npos);
    EXPECT_LT(clean, first);
    EXPECT_NE(log.find("reboot warm", first), std::string::npos);
}

TEST(Reboot, AHalThatReturnsWhenTheProfileSaysSo) {
    TestModule module("pxa270", {"hal.reboot_returns=true"});
    EXPECT_FALSE(KernelIoControl(kReboot, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_NE(events(module).find("reboot warm"), std::string::npos);
}

TEST(Reboot, OtherwiseTheProcessEnds) {
    TestModule module("pxa270");
    EXPECT_EXIT(KernelIoControl(kReboot, nullptr, 0, nullptr, 0, nullptr), ::testing::ExitedWithCode(1), "");
}

DWORD report_mode(ULONG_PTR argument) { return (sim::in_kernel_mode() ? 0x100 : 0x200) + static_cast<DWORD>(argument); }

TEST(KernelCall, RunsTheRoutineInKernelMode) {
    TestModule module("pxa270", {"os.major=6"});
    RoutineRequest request{0, reinterpret_cast<void*>(&report_mode), 5};
    DWORD result = 0;
    ASSERT_TRUE(KernelIoControl(kCallKernelMode, &request, sizeof request, &result, sizeof result, nullptr));
    EXPECT_EQ(result, 0x105u);
    EXPECT_FALSE(sim::in_kernel_mode());
    EXPECT_EQ(report_mode(5), 0x205u);
}

TEST(KernelCall, CommitsPagesInKernelModeOnOs6) {
    TestModule module("pxa270", {"os.major=6"});
    void* base = VirtualAlloc(nullptr, 0x2000, MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_NE(base, nullptr);
    CommitRequest request{1, base, 0x40E10000u >> 8, 0x2000, PAGE_READWRITE | PAGE_NOCACHE | PAGE_PHYSICAL};
    DWORD result = 0xFF;
    ASSERT_TRUE(KernelIoControl(kCallKernelMode, &request, sizeof request, &result, sizeof result, nullptr));
    EXPECT_EQ(result, 1u);
    std::vector<sim::CommittedWindow> windows = sim::committed_windows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_TRUE(windows[0].via_hal);
    EXPECT_EQ(windows[0].physical_base, 0x40E10000u);
    EXPECT_EQ(windows[0].virtual_base, reinterpret_cast<uintptr_t>(base));
    // A commit the rules refuse gives the word 0.
    CommitRequest again = request;
    ASSERT_TRUE(KernelIoControl(kCallKernelMode, &again, sizeof again, &result, sizeof result, nullptr));
    EXPECT_EQ(result, 0u);
    EXPECT_TRUE(VirtualFree(base, 0, MEM_RELEASE));
}

TEST(KernelCall, RefusedWhenTheHalOffersNone) {
    TestModule module("pxa270", {"os.major=6", "hal.kernel_call=false"});
    RoutineRequest request{0, reinterpret_cast<void*>(&report_mode), 5};
    DWORD result = 0xFF;
    EXPECT_FALSE(KernelIoControl(kCallKernelMode, &request, sizeof request, &result, sizeof result, nullptr));
    EXPECT_EQ(result, 0xFFu);
    void* base = VirtualAlloc(nullptr, 0x1000, MEM_RESERVE, PAGE_NOACCESS);
    CommitRequest commit{1, base, 0, 0x1000, PAGE_READWRITE | PAGE_NOCACHE | PAGE_PHYSICAL};
    EXPECT_FALSE(KernelIoControl(kCallKernelMode, &commit, sizeof commit, &result, sizeof result, nullptr));
    EXPECT_TRUE(sim::committed_windows().empty());
    VirtualFree(base, 0, MEM_RELEASE);
}

TEST(KernelCall, MalformedRequestsAreRefused) {
    TestModule module("pxa270");
    DWORD result = 0xFF;
    RoutineRequest routine{0, nullptr, 0};
    EXPECT_FALSE(KernelIoControl(kCallKernelMode, &routine, sizeof routine, &result, sizeof result, nullptr));
    DWORD unknown = 2;
    EXPECT_FALSE(KernelIoControl(kCallKernelMode, &unknown, sizeof unknown, &result, sizeof result, nullptr));
    RoutineRequest good{0, reinterpret_cast<void*>(&report_mode), 0};
    EXPECT_FALSE(KernelIoControl(kCallKernelMode, &good, 4, &result, sizeof result, nullptr));  // cut short
    EXPECT_FALSE(KernelIoControl(kCallKernelMode, &good, sizeof good, &result, 2, nullptr));    // no room
    EXPECT_EQ(result, 0xFFu);
    EXPECT_FALSE(KernelIoControl(0x01012FFC, nullptr, 0, nullptr, 0, nullptr));
}

}  // namespace
