// The flash mutex shared with the running system: its flash driver holds
// OnModuleFlash, and an update waits for it.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "tests/e2e/e2e_support.h"

namespace {

using testing_support::read_binary;

// The running system's flash driver holds OnModuleFlash: the update waits for
// it and touches nothing meanwhile; once the holder dies, the update runs.
TEST(FlashMutex, UpdateWaitsForTheRunningSystemAndGoesOnWhenItsHolderDies) {
    e2e::ModuleDir module("pxa270");
    testing_support::write_binary(module.scratch("os.raw"), std::vector<uint8_t>(0x1000, 0x37));
    std::string image =
        module.make_image("os.bin", {"--raw", module.scratch("os.raw").string(), "--address", "0x200000"});

    // The holder runs in its own process, as the running system's driver does.
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    std::string holder =
        "exec " + testing_support::binary("modulectl") + " hold-flash " + e2e::shell_quote(module.path().string());
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipe_fds[1], 1);
        close(pipe_fds[0]);
        execl("/bin/sh", "sh", "-c", holder.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    close(pipe_fds[1]);
    FILE* held = fdopen(pipe_fds[0], "r");
    char line[128] = {};
    ASSERT_NE(fgets(line, sizeof line, held), nullptr);
    EXPECT_STREQ(line, "holding OnModuleFlash\n");

    // While it is held, the update blocks (the shell's timeout ends it),
    // and after a second it says whom it waits for.
    std::string blocked_command = "timeout 5 " + testing_support::binary("updatetool") + " --module " +
                                  e2e::shell_quote(module.path().string()) + " -q --ui line /u " +
                                  e2e::shell_quote(image) + " < /dev/null 2>&1 >/dev/null";
    std::string said;
    EXPECT_EQ(testing_support::run_command(blocked_command, &said), 124);
    EXPECT_EQ(said, "updatetool: waiting for the flash, held by process " + std::to_string(pid) + "\n");
    std::vector<uint8_t> flash = read_binary(module.file("nor.bin"));
    EXPECT_EQ(std::count(flash.begin(), flash.end(), 0xFF), static_cast<long>(flash.size()));

    // The holder dies without releasing: the mutex is abandoned and taken.
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    int status = 0;
    waitpid(pid, &status, 0);
    fclose(held);
    module.update_tool({}, "/u " + image);
    EXPECT_EQ(e2e::json_value(module.report(), "outcome"), "success") << module.report();
    flash = read_binary(module.file("nor.bin"));
    EXPECT_EQ(flash[0x200000], 0x37);
}

}  // namespace
