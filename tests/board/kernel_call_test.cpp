// The system's version check and the calls into kernel mode through the HAL.
#include <gtest/gtest.h>

#include "board/hal_ioctl.h"
#include "board/phys_window.h"
#include "module/hw/cpu.h"
#include "tests/support/test_module.h"

using testing_support::TestModule;

namespace {

TEST(OsMajorVersionBelow6, AskedAfreshFromTheSystem) {
    const struct {
        const char* major;
        BOOL below6;
    } rows[] = {{"os.major=4", TRUE}, {"os.major=5", TRUE}, {"os.major=6", FALSE}, {"os.major=7", FALSE}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.major);
        TestModule module("pxa270", {row.major});
        EXPECT_EQ(row.below6, OsMajorVersionBelow6());
    }
}

ULONG_PTR seenArgument;
bool ranInKernelMode;

DWORD RecordArgument(ULONG_PTR argument) {
    seenArgument = argument;
    ranInKernelMode = sim::in_kernel_mode();
    return 0xC0FFEE01;
}

DWORD AddArguments(DWORD first, DWORD second) {
    ranInKernelMode = sim::in_kernel_mode();
    return first * 0x100 + second;
}

TEST(KernelCall, HalRunsTheRoutineInKernelMode) {
    TestModule module("pxa270", {"os.major=6"});
    int onTheStack = 0;
    ranInKernelMode = false;
    // A full host pointer travels as the argument, not a squeezed 32-bit word.
    EXPECT_EQ(0xC0FFEE01u,
              KernelCall(reinterpret_cast<void*>(RecordArgument), reinterpret_cast<ULONG_PTR>(&onTheStack)));
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(&onTheStack), seenArgument);
    EXPECT_TRUE(ranInKernelMode);
    EXPECT_FALSE(sim::in_kernel_mode());
}

TEST(KernelCall, TrampolinePassesBothArguments) {
    TestModule module("pxa270", {"os.major=6"});
    const struct { DWORD first, second, result; } rows[] = {{0, 0, 0}, {1, 2, 0x102}, {0x12, 0x34, 0x1234}};
    for (const auto& row : rows) {
        TRAMPOLINE_RECORD record = {AddArguments, row.first, row.second};
        ranInKernelMode = false;
        EXPECT_EQ(row.result,
                  KernelCall(reinterpret_cast<void*>(KernelTrampoline), reinterpret_cast<ULONG_PTR>(&record)));
        EXPECT_TRUE(ranInKernelMode);
    }
}

TEST(KernelCall, RefusedRequestGivesZero) {
    TestModule module("pxa270", {"os.major=6", "hal.kernel_call=false"});
    seenArgument = 0;
    EXPECT_EQ(0u, KernelCall(reinterpret_cast<void*>(RecordArgument), 77));
    EXPECT_EQ(0u, seenArgument);
}

TEST(CommitPhysicalPages, RefusedByTheHalOnNewerSystems) {
    TestModule module("pxa270", {"os.major=6", "hal.kernel_call=false"});
    void* base = VirtualAlloc(nullptr, 0x1000, MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_NE(nullptr, base);
    EXPECT_FALSE(CommitPhysicalPages(base, 0, 0x1000, PHYS_WINDOW_PROTECTION));
    VirtualFree(base, 0, MEM_RELEASE);
}

}  // namespace
