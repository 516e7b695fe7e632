// The command line, read at fixed positions: what each form runs and shows.
#include <gtest/gtest.h>

#include "module/observer.h"
#include "shell/shell_state.h"
#include "tests/app/app_harness.h"
#include "tests/support/test_module.h"

namespace app_tests {
namespace {

using testing_support::TestModule;

struct RegistryCase {
    const char* command_line;
    std::vector<std::string> overrides;
    std::vector<std::string> boxes;
    bool ok;
};

TEST(CommandLine, RegistryJobs) {
    const RegistryCase cases[] = {
        {"/f", {}, {"Registry: Registry Successfully Saved"}, true},
        {"/fx", {}, {"Registry: Registry Successfully Saved"}, true},
        {"/f", {"registry.flush_fails=true"}, {"Registry: Registry Save FAILED!"}, false},
        {"/fu", {"registry.flush_fails=true"}, {}, false},
        {"/fuxyz", {}, {}, true},
        {"/c", {}, {"Registry: Registry Successfully Cleared"}, true},
        {"/cx", {"hal.clear_registry=false"}, {"Registry: Registry Clear FAILED!"}, false},
        {"/cu", {"hal.clear_registry=false"}, {}, false},
        {"/cu", {}, {}, true},
    };
    for (const RegistryCase& c : cases) {
        SCOPED_TRACE(c.command_line);
        TestModule module("pxa270", c.overrides);
        AppHarness harness;
        EXPECT_EQ(harness.run(c.command_line), 1);
        EXPECT_EQ(harness.boxes(), c.boxes);
        EXPECT_EQ(harness.registry_results(), std::vector<bool>{c.ok});
        EXPECT_TRUE(harness.dialogs_ended().empty());
        EXPECT_TRUE(harness.reboots().empty());
    }
}

struct RebootCase {
    const char* command_line;
    bool cold;
    uint32_t delay_ms;
};

TEST(CommandLine, RebootAfterItsDelay) {
    // clang-format off
    const RebootCase cases[] = {
        {"/r", false, 0},       {"/rc", true, 0},       {"/rcx", true, 0},   {"/rc2000", true, 2000},
        {"/r2000", false, 2000}, {"/r 5000", false, 5000}, {"/ru", false, 0},   {"/r-1", false, 0},
        {"/rc-2000", true, 0},  {"/r12abc", false, 12},
    };
    // clang-format on
    for (const RebootCase& c : cases) {
        SCOPED_TRACE(c.command_line);
        TestModule module("pxa270");
        AppHarness harness;
        uint32_t start = module.module().clock().tick_count_ms();
        EXPECT_EQ(harness.run(c.command_line), 1);
        std::vector<SeenReboot> reboots = harness.reboots();
        ASSERT_EQ(reboots.size(), 1u);
        EXPECT_EQ(reboots[0].cold, c.cold);
        EXPECT_EQ(reboots[0].tick_ms - start, c.delay_ms);
        EXPECT_TRUE(harness.boxes().empty());
    }
}

TEST(CommandLine, ColdRebootAsksForACleanRestartFirst) {
    TestModule module("pxa270");
    AppHarness harness;
    harness.run("/rc");
    std::vector<std::string> events = module_events();
    auto clean = std::find(events.begin(), events.end(), "clean reboot requested");
    auto reboot = std::find(events.begin(), events.end(), "reboot cold");
    ASSERT_NE(clean, events.end());
    ASSERT_NE(reboot, events.end());
    EXPECT_EQ(clean + 1, reboot);
}

TEST(CommandLine, WarmRebootMakesNoCleanRestartRequest) {
    TestModule module("pxa270");
    AppHarness harness;
    harness.run("/r");
    std::vector<std::string> events = module_events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "clean reboot requested"), 0);
    EXPECT_EQ(std::count(events.begin(), events.end(), "reboot warm"), 1);
}

TEST(CommandLine, HalRebootThatReturnsEndsTheCommand) {
    TestModule module("pxa270", {"hal.reboot_returns=true"});
    AppHarness harness;
    sim::observer().reboot = nullptr;
    EXPECT_EQ(harness.run("/rc"), 1);
    EXPECT_TRUE(harness.boxes().empty());
}

TEST(CommandLine, UnknownCommandsDoNothing) {
    const char* lines[] = {"/U", "/F", "/C", "/R", "/", "/x"};
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        TestModule module("pxa270");
        AppHarness harness;
        EXPECT_EQ(harness.run(line), 1);
        EXPECT_TRUE(harness.boxes().empty());
        EXPECT_TRUE(harness.reboots().empty());
        EXPECT_TRUE(harness.registry_results().empty());
        EXPECT_TRUE(harness.dialogs_ended().empty());
        EXPECT_EQ(QuietMode, 0u);
    }
}

TEST(CommandLine, NoSlashShowsTheMainDialog) {
    const char* lines[] = {"", " /f", "f", "\\u x"};
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        TestModule module("pxa270");
        AppHarness harness;
        // No presses: the scripted user closes the dialog.
        EXPECT_EQ(harness.run(line), 1);
        EXPECT_EQ(harness.dialogs_ended(), std::vector<std::string>{"Update Tool"});
        EXPECT_TRUE(harness.registry_results().empty());
    }
}

}  // namespace
}  // namespace app_tests
