// Mutexes: in-process ownership and recursion, and the named mutex across
// processes of one module (a child process stands for the running
// system's flash driver).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "module/os/named_objects.h"
#include "platform/winbase.h"
#include "tests/support/test_module.h"

namespace {

using testing_support::TestModule;

constexpr DWORD kNotOwner = 288;

// A child process that takes the named mutex, tells the parent, waits for
// a byte from the parent, and then releases it or dies holding it.
class ChildHolder {
public:
    ChildHolder(const char16_t* name, bool release_before_exit) {
        EXPECT_EQ(pipe(to_parent_), 0);
        EXPECT_EQ(pipe(to_child_), 0);
        pid_ = fork();
        if (pid_ == 0) {
            HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
            DWORD result = mutex ? WaitForSingleObject(mutex, INFINITE) : WAIT_FAILED;
            char state = result == WAIT_OBJECT_0 ? 'h' : 'f';
            if (write(to_parent_[1], &state, 1) != 1) _exit(3);
            char go;
            if (read(to_child_[0], &go, 1) != 1) _exit(4);
            if (release_before_exit && !ReleaseMutex(mutex)) _exit(5);
            _exit(0);
        }
        char state = 0;
        EXPECT_EQ(read(to_parent_[0], &state, 1), 1);
        holding_ = state == 'h';
    }
    bool holding() const { return holding_; }
    // Lets the child finish; returns its exit code.
    int finish() {
        char go = 'g';
        EXPECT_EQ(write(to_child_[1], &go, 1), 1);
        int status = 0;
        waitpid(pid_, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ~ChildHolder() {
        for (int fd : {to_parent_[0], to_parent_[1], to_child_[0], to_child_[1]}) close(fd);
    }

private:
    int to_parent_[2];
    int to_child_[2];
    pid_t pid_ = -1;
    bool holding_ = false;
};

TEST(NamedMutex, ExcludesAnotherProcessUntilItReleases) {
    TestModule module("pxa270");
    ChildHolder child(u"OnModuleFlash", true);
    ASSERT_TRUE(child.holding());
    HANDLE mutex = CreateMutexW(nullptr, FALSE, u"OnModuleFlash");
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);
    EXPECT_EQ(child.finish(), 0);
    EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}

TEST(NamedMutex, AHolderThatDiesLeavesItAbandoned) {
    TestModule module("pxa270");
    ChildHolder child(u"OnModuleFlash", false);
    ASSERT_TRUE(child.holding());
    EXPECT_EQ(child.finish(), 0);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, u"OnModuleFlash");
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(mutex));
    // Released cleanly this time: the next taker gets it normally.
    EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}

TEST(NamedMutex, ParentHoldingExcludesTheChild) {
    TestModule module("pxa270");
    HANDLE mutex = CreateMutexW(nullptr, FALSE, u"OnModuleFlash");
    ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
    pid_t pid = fork();
    if (pid == 0) {
        // A fresh process: its own open of the lock, which the parent holds.
        HANDLE other = CreateMutexW(nullptr, FALSE, u"OnModuleFlash");
        _exit(other && WaitForSingleObject(other, 0) == WAIT_TIMEOUT ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}

TEST(NamedMutex, HoldNamedMutexKeepsItForTheProcess) {
    TestModule module("pxa270");
    std::string error;
    EXPECT_EQ(sim::hold_named_mutex(u"HeldByTool", &error), WAIT_OBJECT_0) << error;
    pid_t pid = fork();
    if (pid == 0) {
        HANDLE other = CreateMutexW(nullptr, FALSE, u"HeldByTool");
        _exit(other && WaitForSingleObject(other, 0) == WAIT_TIMEOUT ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(std::filesystem::exists(module.module().dir() / "objects" / "HeldByTool.lock"));
}

TEST(Mutex, OwnershipIsRecursiveAndPerThread) {
    TestModule module("pxa270");
    for (const char16_t* name : {static_cast<const char16_t*>(nullptr), u"Recursive"}) {
        HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
        ASSERT_NE(mutex, nullptr);
        EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
        EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
        DWORD other_thread_wait = 0;
        BOOL other_thread_release = TRUE;
        std::thread([&] {
            other_thread_wait = WaitForSingleObject(mutex, 0);
            other_thread_release = ReleaseMutex(mutex);
        }).join();
        EXPECT_EQ(other_thread_wait, WAIT_TIMEOUT);
        EXPECT_FALSE(other_thread_release);
        EXPECT_TRUE(ReleaseMutex(mutex));
        // Still held once: another thread waits until the last release.
        std::atomic<bool> taken{false};
        std::thread waiter([&] {
            if (WaitForSingleObject(mutex, INFINITE) == WAIT_OBJECT_0) taken = true;
            ReleaseMutex(mutex);
        });
        EXPECT_TRUE(ReleaseMutex(mutex));
        waiter.join();
        EXPECT_TRUE(taken);
        EXPECT_FALSE(ReleaseMutex(mutex));
        EXPECT_EQ(GetLastError(), kNotOwner);
        CloseHandle(mutex);
    }
}

TEST(Mutex, TheSameNameIsTheSameObjectInTheProcess) {
    TestModule module("pxa270");
    HANDLE first = CreateMutexW(nullptr, TRUE, u"Shared");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    HANDLE second = CreateMutexW(nullptr, FALSE, u"Shared");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    DWORD seen = 0;
    std::thread([&] { seen = WaitForSingleObject(second, 0); }).join();
    EXPECT_EQ(seen, WAIT_TIMEOUT);
    // The owner releases through either handle.
    EXPECT_TRUE(ReleaseMutex(second));
    CloseHandle(first);
    CloseHandle(second);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_FAILED);
}

}  // namespace
