// Threads, and time on the module's virtual clock.
#include <gtest/gtest.h>

#include <atomic>

#include "module/observer.h"
#include "platform/winbase.h"
#include "tests/support/test_module.h"

namespace {

using testing_support::TestModule;

DWORD WINAPI add_seven(LPVOID parameter) {
    int* value = static_cast<int*>(parameter);
    *value += 7;
    return 0x1234;
}

TEST(Threads, RunsTheRoutineAndReportsItsExitCode) {
    TestModule module("pxa270");
    std::atomic<unsigned long> reported{0};
    sim::observer().thread_exit = [&](unsigned long code) { reported = code; };
    int value = 1;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, add_seven, &value, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    // The observer has heard by the time the wait returns.
    EXPECT_EQ(reported.load(), 0x1234u);
    EXPECT_EQ(value, 8);
    // A finished thread stays signalled.
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_FALSE(CloseHandle(thread));
    sim::observer().thread_exit = nullptr;
}

TEST(Threads, RefusesWhatItCannotDo) {
    TestModule module("pxa270");
    int value = 0;
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, &value, 0, nullptr), nullptr);
    EXPECT_EQ(CreateThread(nullptr, 0, add_seven, &value, 4 /* suspended */, nullptr), nullptr);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(0x7FFC), 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Time, SleepAdvancesTheVirtualClock) {
    TestModule module("pxa270", {"clock.start_ms=1000"});
    DWORD start = GetTickCount();
    EXPECT_EQ(start, 1000u);
    Sleep(100);
    EXPECT_EQ(GetTickCount() - start, 100u);
    Sleep(0);
    EXPECT_EQ(GetTickCount() - start, 100u);
    Sleep(10000);
    EXPECT_EQ(module.module().clock().now_ns(), 10100000000ull);
}

TEST(Time, TheTickCountWrapsAt32Bits) {
    TestModule module("pxa270", {"clock.start_ms=4294967290"});
    DWORD start = GetTickCount();
    Sleep(10);
    DWORD later = GetTickCount();
    EXPECT_LT(later, start);
    EXPECT_EQ(later - start, 10u);
}

}  // namespace
