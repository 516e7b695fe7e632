// The program's command-line jobs beside the update: registry saves and
// clears, reboots, and commands it does not know.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"

namespace {

TEST(Commands, RegistryJobsReportTheirOutcome) {
    struct Case {
        const char* command;
        std::vector<std::string> sets;
        const char* outcome;
        const char* box;  // empty: no box (quiet)
        const char* last_line;
    };
    // clang-format off
    const Case cases[] = {
        {"/f",     {},                            "success", "Registry: Registry Successfully Saved",   "registry saved to flash"},
        {"/fx",    {},                            "success", "Registry: Registry Successfully Saved",   "registry saved to flash"},
        {"/fu",    {},                            "success", "",                                        "registry saved to flash"},
        {"/f",     {"registry.flush_fails=true"}, "failure", "Registry: Registry Save FAILED!",         "saving the registry failed: Registry Save FAILED!"},
        {"/fuxyz", {"registry.flush_fails=true"}, "failure", "",                                        "saving the registry failed: the registry flush failed"},
        {"/c",     {},                            "success", "Registry: Registry Successfully Cleared", "registry in flash cleared"},
        {"/c",     {"hal.clear_registry=false"},  "failure", "Registry: Registry Clear FAILED!",        "clearing the registry failed: Registry Clear FAILED!"},
        {"/cu",    {"hal.clear_registry=false"},  "failure", "",                                        "clearing the registry failed: the HAL did not clear it"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        e2e::ModuleDir module("pxa270", c.sets);
        e2e::ToolRun run = module.update_tool({}, c.command);
        EXPECT_EQ(run.exit_code, std::string(c.outcome) == "success" ? 0 : 1);
        EXPECT_EQ(run.last_error_line(), std::string("updatetool: ") + c.last_line);
        std::string report = module.report();
        EXPECT_EQ(e2e::json_value(report, "outcome"), c.outcome) << report;
        std::vector<std::string> boxes = e2e::message_boxes(report);
        if (*c.box) {
            ASSERT_EQ(boxes.size(), 1u) << report;
            EXPECT_EQ(boxes[0], c.box);
        } else {
            EXPECT_TRUE(boxes.empty()) << report;
        }
    }
}

TEST(Commands, RebootEndsTheProgramAndIsLoggedByTheModule) {
    struct Case {
        const char* command;
        const char* reboot;
        std::vector<std::string> host_args = {};
        std::vector<std::string> sets = {};
    };
    // clang-format off
    const Case cases[] = {
        {"/rc",     "cold"},
        {"/rc2000", "cold"},
        {"/r",      "warm"},
        {"/r 5",    "warm"},
        {"/ru",     "warm"},
        {"/rcx",    "cold"},
        {"/r-1",    "warm"},
        {"/rc",     "cold", {"--module-exit-status"}},
        {"/r",      "warm", {}, {"hal.reboot_returns=true"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        e2e::ModuleDir module("pxa270", c.sets);
        e2e::ToolRun run = module.update_tool(c.host_args, c.command);
        bool returns = !c.sets.empty();
        EXPECT_EQ(run.exit_code, returns || !c.host_args.empty() ? 1 : 0);
        std::string announced =
            std::string("module: ") + c.reboot + " reboot" + (returns ? " requested; the HAL returned" : "") + "\n";
        EXPECT_NE(run.errors.find(announced), std::string::npos) << run.errors;
        EXPECT_EQ(run.last_error_line(), returns
                                             ? "updatetool: reboot failed: the HAL returned from the reboot request"
                                             : std::string("updatetool: ") + c.reboot + " reboot: the module restarts");
        std::string report = module.report();
        EXPECT_EQ(e2e::json_value(report, "reboot"), c.reboot) << report;
        std::string log = module.events();
        EXPECT_NE(log.find(std::string("reboot ") + c.reboot), std::string::npos) << log;
        if (std::string(c.reboot) == "cold") {
            EXPECT_NE(log.find("clean reboot requested"), std::string::npos) << log;
        }
        // The delay runs on the module's clock: /rc2000 waits two virtual seconds, /r-1 none.
        double ms = std::stod(e2e::json_value(report, "virtual_time_ms"));
        if (std::string(c.command) == "/rc2000") {
            EXPECT_GE(ms, 2000.0);
        }
        if (std::string(c.command) == "/r-1") {
            EXPECT_LT(ms, 1000.0);
        }
    }
}

TEST(Commands, UnknownAndUpperCaseCommandsDoNothing) {
    for (const char* command : {"/U", "/F", "/C", "/R", "/", "/x"}) {
        SCOPED_TRACE(command);
        e2e::ModuleDir module("pxa270");
        e2e::ToolRun run = module.update_tool({}, command);
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_EQ(run.last_error_line(), std::string("updatetool: the program did nothing: '") + command +
                                             "' is none of its commands (/u PATH, /f, /fu, /c, /cu, /rMS, /rcMS)");
        std::string report = module.report();
        EXPECT_TRUE(e2e::message_boxes(report).empty()) << report;
        EXPECT_EQ(e2e::json_value(report, "reboot"), "null");
        EXPECT_EQ(run.output.find("Update Tool 2.7"), std::string::npos) << run.output;
    }
}

}  // namespace
