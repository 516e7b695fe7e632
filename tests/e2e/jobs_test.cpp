// The program's other jobs and its dialogs, run as a user or a script would:
// the main dialog through stdin lines, registry and reboot commands, the
// report, and the flash mutex shared with the running system.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include <nlohmann/json.hpp>

#include "tests/e2e/e2e_support.h"

namespace {

using testing_support::read_binary;

std::string events(const e2e::ModuleDir& module) {
    std::ifstream f(module.file("events.log"));
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

TEST(MainDialog, ShowsItsCaptionAndButtonsAndClosesAtEndOfInput) {
    e2e::ModuleDir module("pxa270");
    e2e::ToolRun run = module.update_tool({}, "", "");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.last_error_line(), "updatetool: main dialog closed");
    EXPECT_NE(run.output.find("Update Tool 2.7"), std::string::npos) << run.output;
    for (const char* button : {"Save Registry to Flash", "Clear Registry on Flash", "Update Bootloader/Image",
                               "BSP Version", "Coldboot", "Warmboot"})
        EXPECT_NE(run.output.find(button), std::string::npos) << button;
    EXPECT_EQ(e2e::json_value(module.report(), "job"), "main-dialog");
}

TEST(MainDialog, ButtonsByTextOrIdRunTheirJobs) {
    e2e::ModuleDir module("pxa270");
    // Each result box takes the next line as its answer.
    e2e::ToolRun run = module.update_tool({}, "", "Save Registry to Flash\nok\n1000\nok\n");
    std::vector<std::string> boxes = e2e::message_boxes(module.report());
    ASSERT_EQ(boxes.size(), 2u) << run.output;
    EXPECT_EQ(boxes[0], "Registry: Registry Successfully Saved");
    EXPECT_EQ(boxes[1], "Registry: Registry Successfully Cleared");
    EXPECT_NE(events(module).find("registry"), std::string::npos);
}

TEST(MainDialog, UpdateAsksForTheFileWarnsAndOffersTheReset) {
    e2e::ModuleDir module("pxa270");
    std::string image = e2e::bootloader_on_flash(module);
    std::vector<uint8_t> before = read_binary(module.file("nor.bin"));
    // Update button, then the file dialog's path; the warning is answered OK,
    // the reset question No; end of input closes the main dialog.
    e2e::ToolRun run =
        module.update_tool({"--answer", "ok", "--answer", "no"}, "", "Update Bootloader/Image\n" + image + "\n");
    EXPECT_EQ(run.exit_code, 0) << run.output;
    std::string report = module.report();
    EXPECT_EQ(e2e::json_value(report, "outcome"), "success") << report << run.output;
    std::vector<std::string> boxes = e2e::message_boxes(report);
    ASSERT_EQ(boxes.size(), 2u) << report;
    EXPECT_EQ(boxes[0],
              "WARNING: This Image will overwrite the following sections:\nBootloader\n\n\nAre you sure you want to "
              "continue?");
    EXPECT_EQ(boxes[1], "RESET: To finish the update reset the system.\n Reset now?");
    EXPECT_EQ(e2e::json_value(report, "reboot"), "null");
    EXPECT_EQ(read_binary(module.file("nor.bin")), before);
}

TEST(MainDialog, DeclinedWarningWritesNothing) {
    e2e::ModuleDir module("pxa270");
    e2e::bootloader_on_flash(module);
    std::vector<uint8_t> before = read_binary(module.file("nor.bin"));
    std::string other = module.scratch("other.bin").string();
    ASSERT_EQ(e2e::run_tool("mkbin", {"-o", other, "--start", "0", "--length", "0x1000", "--fill", "0x22"}).exit_code,
              0);
    e2e::ToolRun run = module.update_tool({"--answer", "cancel"}, "", "Update Bootloader/Image\n" + other + "\n");
    EXPECT_EQ(run.exit_code, 3);
    EXPECT_EQ(run.last_error_line(), "updatetool: update declined at the overwrite warning");
    std::string report = module.report();
    EXPECT_EQ(e2e::json_value(report, "outcome"), "declined") << report;
    EXPECT_EQ(read_binary(module.file("nor.bin")), before);
}

std::string make_image(const e2e::ModuleDir& module, const std::string& name, std::vector<std::string> args) {
    std::string image = module.scratch(name).string();
    args.insert(args.begin(), {"-o", image});
    e2e::ToolRun made = e2e::run_tool("mkbin", args);
    EXPECT_EQ(made.exit_code, 0) << made.output;
    return image;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// A script can tell every outcome by the exit status and read it in the last
// line on stderr; a failed flash operation is named as the device saw it.
TEST(Updates, ExitStatusLastLineAndTheFailedOperation) {
    struct Case {
        const char* name;
        const char* profile;
        std::vector<std::string> sets;
        bool old_data;  // nor.bin holds data: the erase has blocks to erase
        std::vector<std::string> host_args;
        const char* command;  // IMG stands for the image's path (also in input)
        const char* input;
        int status;
        const char* last_line;  // the start of it
        const char* says;       // somewhere in the output ("" for nothing)
    };
    const Case cases[] = {
        {"success",
         "pxa270",
         {},
         true,
         {},
         "/u IMG",
         "",
         0,
         "updatetool: update succeeded (1.0 MiB erased, 1.0 MiB written)",
         ""},
        {"verified",
         "pxa270",
         {},
         false,
         {"--verify"},
         "/u IMG",
         "",
         0,
         "updatetool: update succeeded (0 B erased, 1.0 MiB written); verified, matches: 1 record, 0x00100000 bytes",
         ""},
        {"the program's own exit status",
         "pxa270",
         {},
         false,
         {"--module-exit-status"},
         "/u IMG",
         "",
         1,
         "updatetool: update succeeded",
         ""},
        {"program error",
         "pxa270",
         {"nor.fault.program_error=[0x80000]"},
         false,
         {},
         "/u IMG",
         "",
         1,
         "updatetool: update failed: Error writing to Flash!",
         "module: buffer program at 0x00080000 failed: chip 0 status 0x90 = program error\n"},
        {"stuck lock bit",
         "pxa270-p30",
         {"nor.fault.stuck_lock=[0xC0000]"},
         false,
         {},
         "/u IMG",
         "",
         1,
         "updatetool: update failed: Error erasing Flash!",
         "module: unlock at 0x000c0000 failed: chip 0 status 0xa0 = unlock error (the block's lock bit is stuck)\n"},
        {"erase error",
         "pxa270",
         {"nor.fault.erase_error=[0xC0000]"},
         true,
         {},
         "/u IMG",
         "",
         1,
         "updatetool: update failed: Error erasing Flash!",
         "module: block erase at 0x000c0000 failed: chip 0 status 0xa0 = erase error\n"},
        {"never ready",
         "pxa270",
         {"nor.fault.never_ready=true"},
         true,
         {},
         "/u IMG",
         "",
         1,
         "updatetool: update failed: Error erasing Flash!",
         "module: block erase at 0x00080000 never ended: chip 0 status 0x00 = busy; the program gave up waiting\n"},
        {"NAND never ready",
         "pxa300-f1ec",
         {"nand.fault.never_ready_after=3"},
         false,
         {},
         "/u IMG",
         "",
         1,
         "updatetool: update failed: Error erasing Flash!",
         "module: block erase at 0x000a0000 never ended: chip 0 block 5 status 0x80 = busy; the program gave up "
         "waiting\n"},
        {"NAND bad block",
         "pxa300-f1ec",
         {"nand.bad_blocks=[5]"},
         false,
         {},
         "/u IMG",
         "",
         0,
         "updatetool: update succeeded",
         "module: bad block found: chip 0 block 5 (block erase at 0x000a0000, status 0xc1 = failed)\n"
         "module: logical block 5 now lies in physical block 1023\n"},
        // The power goes part-way through an operation: the run stops there.
        {"power cut",
         "pxa270",
         {"power.cut_at_op=1"},
         true,
         {},
         "/u IMG",
         "",
         5,
         "updatetool: power cut: the module stopped in the block erase at 0x00080000 (256 KiB) cut ",
         "module: power cut: block erase at 0x00080000 (256 KiB) cut "},
        {"power cut by time",
         "pxa270",
         {"power.cut_at_time_us=500000"},
         true,
         {},
         "/u IMG",
         "",
         5,
         "updatetool: power cut: the module stopped in the block erase at 0x00080000 (256 KiB) cut 50% through "
         "(operation 1)",
         "module: power cut: block erase at 0x00080000 (256 KiB) cut 50% through (operation 1)\n"},
        {"NAND power cut",
         "pxa300-f1ec",
         {"power.cut_at=erase@0xa0000"},
         false,
         {},
         "/u IMG",
         "",
         5,
         "updatetool: power cut: the module stopped in the block erase of nand-0 block 5 (0x000a0000) cut ",
         "module: power cut: block erase of nand-0 block 5 (0x000a0000) cut "},
        {"no file chosen",
         "pxa270",
         {},
         false,
         {},
         "",
         "Update Bootloader/Image\n\n",
         3,
         "updatetool: update declined: no image file was chosen",
         ""},
        {"aborted",
         "pxa270",
         {},
         false,
         {"--escape-at", "Erasing Flash Sector"},
         "/u IMG",
         "",
         4,
         "updatetool: update aborted before anything was erased",
         ""},
        // The reset question comes before the worker's end: the abort still counts.
        {"aborted, then reset",
         "pxa270",
         {},
         false,
         {"--escape-at", "Erasing Flash Sector", "--answer", "ok", "--answer", "yes"},
         "",
         "Update Bootloader/Image\nIMG\n",
         4,
         "updatetool: update aborted before anything was erased",
         "module: cold reboot\n"},
        {"unused answers",
         "pxa270",
         {},
         false,
         {"--answer", "no", "--answer", "ok"},
         "/u IMG",
         "",
         0,
         "updatetool: update succeeded",
         "updatetool: --answer values left unused (no message box took them): no, ok\n"},
        {"an answer that is no button",
         "pxa270",
         {},
         false,
         {"--answer", "yes"},
         "/f",
         "",
         2,
         "updatetool: --answer yes is not a button of the box \"Registry\" (OK)",
         "[Registry] refused: "},
        {"a typed answer that is no button",
         "pxa270",
         {},
         false,
         {},
         "/f",
         "maybe\n",
         2,
         "updatetool: \"maybe\" is not a button of the box \"Registry\" (OK)",
         ""},
        {"no such file",
         "pxa270",
         {},
         false,
         {},
         "/u /no/such.bin",
         "",
         1,
         "updatetool: update failed: Cannot Open Image File /no/such.bin",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        e2e::ModuleDir module(c.profile, c.sets);
        if (c.old_data) module.fill_nor(0x00);
        std::string image =
            make_image(module, "os.bin", {"--start", "0x80080000", "--length", "0x100000", "--fill", "pattern"});
        e2e::ToolRun run =
            module.update_tool(c.host_args, replace_all(c.command, "IMG", image), replace_all(c.input, "IMG", image));
        EXPECT_EQ(run.exit_code, c.status) << run.output;
        EXPECT_EQ(run.last_error_line().rfind(c.last_line, 0), 0u) << run.errors;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        std::string report = module.report();
        EXPECT_EQ(e2e::json_value(report, "summary"), run.last_error_line());
        bool diagnosed = std::string(c.says).find(" chip 0 status") != std::string::npos ||
                         std::string(c.says).find(" chip 0 block 5 status") != std::string::npos;
        EXPECT_EQ(e2e::json_value(report, "failed_operation") != "null", diagnosed) << report;
    }
}

// Wear outlives each run: the update after the limit meets worn blocks; NAND
// moves them to the reserve and succeeds, NOR reports the failed erase.
// modulectl wear shows each chip's counters.
TEST(Updates, WornBlocksFailALaterUpdateAndWearShowsTheCounters) {
    struct Case {
        const char* profile;
        const char* limit;
        int runs;
        int status;  // of the last run
        const char* says;
        const char* row;  // of modulectl wear
        const char* summary;
        size_t erased;
    };
    const Case cases[] = {
        {"pxa300-f1ec", "nand.wear.erase_limit=2", 3, 0,
         "module: bad block found: chip 0 block 4 (block erase at 0x00080000, status 0xc1 = failed)\n",
         "   0   1016  0x07F00000       2  worn\n",
         "nand: 1 chip of 1024 blocks, 16 erased; erases a block: max 2, mean 0.03; erase limit 2: 16 worn\n", 16},
        {"pxa270", "nor.wear.erase_limit=1", 2, 1,
         "module: block erase at 0x00080000 failed: chip 0 status 0xa0 = erase error\n",
         "   1      5  0x00140000       1  worn\n",
         "nor: 2 chips of 128 blocks, 8 erased; erases a block: max 1, mean 0.03; erase limit 1: 8 worn\n", 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.profile);
        e2e::ModuleDir module(c.profile, {c.limit});
        if (std::string(c.profile) == "pxa270") module.fill_nor(0x00);
        std::string image =
            make_image(module, "os.bin", {"--start", "0x80080000", "--length", "0x100000", "--fill", "pattern"});
        e2e::ToolRun run;
        for (int i = 0; i < c.runs; ++i) run = module.update_tool({}, "/u " + image);
        EXPECT_EQ(run.exit_code, c.status) << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        e2e::ToolRun wear = e2e::run_tool("modulectl", {"wear", module.path().string()});
        EXPECT_EQ(wear.exit_code, 0) << wear.output;
        EXPECT_EQ(wear.output.rfind("chip  block  offset      erases  state\n", 0), 0u) << wear.output;
        EXPECT_NE(wear.output.find(c.row), std::string::npos) << wear.output;
        EXPECT_NE(wear.output.find(c.summary), std::string::npos) << wear.output;
        wear = e2e::run_tool("modulectl", {"wear", "--json", "--all", module.path().string()});
        nlohmann::json j = nlohmann::json::parse(wear.output, nullptr, false);
        ASSERT_TRUE(j.is_object()) << wear.output;
        EXPECT_EQ(j["erased"], c.erased);
        EXPECT_EQ(j["worn"], c.erased);
        EXPECT_EQ(j["blocks"].size(), j["chips"].get<size_t>() * j["blocks_per_chip"].get<size_t>());
    }
}

// On a terminal the progress is one line drawn over itself, phase by phase.
TEST(Updates, ProgressOnATerminalIsOneLineRedrawn) {
    struct Case {
        const char* profile;
        std::vector<std::string> image;
        std::vector<std::string> phases;  // in the order the line shows them
    };
    const Case cases[] = {
        {"pxa270", {"--start", "0x80080000", "--length", "0x100000", "--fill", "pattern"}, {"erasing", "writing"}},
        // The boot area is written back after the records, then read back.
        {"pxa300-f1ec",
         {"--start", "0", "--length", "0x30000", "--fill", "pattern"},
         {"erasing", "writing", "staging the boot area", "verifying"}},
    };
    const std::regex segment(
        "(erasing|writing|staging the boot area|verifying) +[0-9.]+ (B|KiB|MiB) of [0-9.]+ (B|KiB|MiB) +[0-9]+%"
        "(  [0-9.]+ (B|KiB|MiB|GiB)/s(  [0-9:]+ left)?)?\\x1b\\[K");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.profile);
        e2e::ModuleDir module(c.profile);
        if (std::string(c.profile) == "pxa270") module.fill_nor(0x00);
        std::string image = make_image(module, "image.bin", c.image);
        e2e::ToolRun run =
            e2e::run_tool_on_terminal("updatetool", {"--module", module.path().string(), "--verify", "/u", image});
        EXPECT_EQ(run.exit_code, 0) << run.output;
        // The terminal ends lines with \r\n; a redraw starts with \r alone.
        std::vector<std::string> lines;
        std::istringstream all(replace_all(run.output, "\r\n", "\n"));
        for (std::string line; std::getline(all, line);)
            if (line.find("\x1b[K") != std::string::npos) lines.push_back(line);
        // The dialog's line, then the host's verify.
        ASSERT_EQ(lines.size(), 2u) << run.output;
        std::vector<std::string> phases;
        size_t draws = 0;
        std::istringstream redraws(lines[0]);
        for (std::string draw; std::getline(redraws, draw, '\r');) {
            if (draw.empty()) continue;
            EXPECT_TRUE(std::regex_match(draw, segment)) << draw;
            ++draws;
            std::string phase = draw.substr(0, draw.find("  "));
            phase.erase(phase.find_last_not_of(' ') + 1);
            if (phases.empty() || phases.back() != phase) phases.push_back(phase);
        }
        EXPECT_EQ(phases, c.phases);
        EXPECT_GE(draws, 10u);
        EXPECT_NE(lines[0].find(" 100%"), std::string::npos) << lines[0];
        EXPECT_EQ(lines[1].rfind("\rverifying", 0), 0u) << lines[1];
        EXPECT_NE(run.output.find("updatetool: update succeeded"), std::string::npos) << run.output;
    }
}

TEST(Commands, RegistryJobsReportTheirOutcome) {
    struct Case {
        const char* command;
        std::vector<std::string> sets;
        const char* outcome;
        const char* box;  // empty: no box (quiet)
        const char* last_line;
    };
    const Case cases[] = {
        {"/f", {}, "success", "Registry: Registry Successfully Saved", "registry saved to flash"},
        {"/fx", {}, "success", "Registry: Registry Successfully Saved", "registry saved to flash"},
        {"/fu", {}, "success", "", "registry saved to flash"},
        {"/f",
         {"registry.flush_fails=true"},
         "failure",
         "Registry: Registry Save FAILED!",
         "saving the registry failed: Registry Save FAILED!"},
        {"/fuxyz",
         {"registry.flush_fails=true"},
         "failure",
         "",
         "saving the registry failed: the registry flush failed"},
        {"/c", {}, "success", "Registry: Registry Successfully Cleared", "registry in flash cleared"},
        {"/c",
         {"hal.clear_registry=false"},
         "failure",
         "Registry: Registry Clear FAILED!",
         "clearing the registry failed: Registry Clear FAILED!"},
        {"/cu", {"hal.clear_registry=false"}, "failure", "", "clearing the registry failed: the HAL did not clear it"},
    };
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
    for (const Case& c :
         {Case{"/rc", "cold"}, Case{"/rc2000", "cold"}, Case{"/r", "warm"}, Case{"/r 5", "warm"}, Case{"/ru", "warm"},
          Case{"/rcx", "cold"}, Case{"/r-1", "warm"}, Case{"/rc", "cold", {"--module-exit-status"}},
          Case{"/r", "warm", {}, {"hal.reboot_returns=true"}}}) {
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
        std::string log = events(module);
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

// The running system's flash driver holds OnModuleFlash: the update waits for
// it and touches nothing meanwhile; once the holder dies, the update runs.
TEST(FlashMutex, UpdateWaitsForTheRunningSystemAndGoesOnWhenItsHolderDies) {
    e2e::ModuleDir module("pxa270");
    std::string image = module.scratch("os.bin").string();
    testing_support::write_binary(module.scratch("os.raw"), std::vector<uint8_t>(0x1000, 0x37));
    ASSERT_EQ(e2e::run_tool("mkbin", {"-o", image, "--raw", module.scratch("os.raw").string(), "--address", "0x200000"})
                  .exit_code,
              0);

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

    // While it is held, the update blocks (the shell's timeout ends it).
    std::string blocked_command = "timeout 5 " + testing_support::binary("updatetool") + " --module " +
                                  e2e::shell_quote(module.path().string()) + " --ui line /u " +
                                  e2e::shell_quote(image) + " < /dev/null > /dev/null 2>&1";
    EXPECT_EQ(testing_support::run_command(blocked_command, nullptr), 124);
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

namespace {

TEST(ModuleTool, SectionsShowsWhatAnUpdateDetectsWithoutChangingTheModule) {
    e2e::ModuleDir module("pxa270");
    e2e::bootloader_on_flash(module);
    // A configuration block at its old place: detection on the module itself
    // would move it.
    std::string config = module.scratch("config.bin").string();
    ASSERT_EQ(e2e::run_tool("mkbin", {"-o", config, "--start", "0x88000", "--config-block", "0x100"}).exit_code, 0);
    module.update_tool({}, "/u " + config);
    std::vector<uint8_t> before = read_binary(module.file("nor.bin"));
    e2e::ToolRun run = e2e::run_tool("modulectl", {"sections", module.path().string()});
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find("Bootloader   0x00000000 0x00040000 0x00001000"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("ConfigBlock  0x00088000 0x00040000 0x00000100  (old place"), std::string::npos)
        << run.output;
    EXPECT_EQ(read_binary(module.file("nor.bin")), before);
}

// verify reads the flash as the program addresses it (bias and boot area
// applied) and names the first byte that differs and how many do.
TEST(ModuleTool, VerifyFindsWhatDiffers) {
    struct Case {
        const char* name;
        const char* profile;
        const char* tamper;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"as written", "pxa270", "", 0, "matches: 2 records, 0x00002000 bytes\n"},
        {"a flipped byte", "pxa270", "flip", 1, "differs at 0x00081234: 1 of 0x00002000 bytes in 2 records\n"},
        {"a missing record", "pxa270", "missing", 1, "differs at 0x00090000: 4096 of 0x00002000 bytes in 2 records\n"},
        {"a wrong bias", "pxa270", "bias", 1, "differs at 0x00101000: 8192 of 0x00002000 bytes in 2 records\n"},
        // Logical 0x1F800 on, past the relocation table page, is physical block 1.
        {"the boot area", "pxa300-f1ec", "", 0, "matches: 1 record, 0x00002000 bytes\n"},
        // The page keeps its ECC: a reader with ECC would get the byte back.
        {"the boot area, flipped", "pxa300-f1ec", "flip", 1,
         "differs at 0x0001f800: 1 of 0x00002000 bytes in 1 record; 1 page with ECC errors, 0 uncorrectable\n"
         "modulectl verify: chip 0 page 64: ECC corrects a flipped bit\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        e2e::ModuleDir module(c.profile);
        std::vector<uint8_t> raw(0x1000);
        for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>((i * 5 + 1) % 255);  // no 0xFF
        testing_support::write_binary(module.scratch("a.raw"), raw);
        std::string a = "=" + module.scratch("a.raw").string();
        bool nand = std::string(c.profile) != "pxa270";
        std::vector<std::string> first = {"--start", "0x80080000", "--length", "0x11000", "--data", "0x80081000" + a};
        std::vector<std::string> both = first;
        both.insert(both.end(), {"--data", "0x80090000" + a});
        // On NAND beside an old bootloader's first bytes, which the update keeps.
        if (nand) {
            both =
                first = {"--start", "0x1F000", "--length", "0x2000", "--data", "0x1F000" + a, "--data", "0x20000" + a};
            module.poke("nand-0.main", 0, {0x42, 0x4F, 0x4F, 0x54});
        }
        std::string image = make_image(module, "image.bin", both);
        std::string written = std::string(c.tamper) == "missing" ? make_image(module, "first.bin", first) : image;
        ASSERT_EQ(module.update_tool({}, "/u " + written).exit_code, 0);
        if (std::string(c.tamper) == "flip") {
            std::string file = nand ? "nand-0.main" : "nor.bin";
            uint64_t at = nand ? 0x20000 : 0x81234;
            uint8_t old = read_binary(module.file(file))[at];
            module.poke(file, at, {static_cast<uint8_t>(old ^ 0x10)});
        }
        if (std::string(c.tamper) == "bias") {
            ASSERT_EQ(e2e::run_tool("modulectl", {"set", module.path().string(), "hal.item5=[0x100000]"}).exit_code, 0);
        }
        e2e::ToolRun run = e2e::run_tool("modulectl", {"verify", module.path().string(), image});
        EXPECT_EQ(run.exit_code, c.status) << run.output;
        EXPECT_EQ(run.output, c.says);
    }
}

// The event log by program run: a header for each, absolute times.
TEST(ModuleTool, EventsAreListedByRunWithAbsoluteTimes) {
    e2e::ModuleDir module("pxa270");
    module.update_tool({}, "/fu");
    module.update_tool({}, "/rc1500");
    e2e::ToolRun run = e2e::run_tool("modulectl", {"events", module.path().string()});
    EXPECT_EQ(run.exit_code, 0) << run.output;
    const std::string stamp = "20[0-9]{2}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}";
    EXPECT_TRUE(std::regex_match(run.output, std::regex("run 1: updatetool /fu, module opened " + stamp +
                                                        " UTC\n"
                                                        "  " +
                                                        stamp +
                                                        "  registry flushed\n"
                                                        "run 2: updatetool /rc1500, module opened " +
                                                        stamp +
                                                        " UTC\n"
                                                        "  " +
                                                        stamp +
                                                        "  clean reboot requested\n"
                                                        "  " +
                                                        stamp + "  reboot cold\n")))
        << run.output;
    nlohmann::json runs =
        nlohmann::json::parse(e2e::run_tool("modulectl", {"events", module.path().string(), "--json"}).output);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1]["program"], "updatetool /rc1500");
    // The reboot waited 1.5 s of the module's time.
    EXPECT_GE(runs[1]["events"][1]["offset_ms"].get<double>(), 1500.0);
    EXPECT_EQ(runs[1]["events"][1]["text"], "reboot cold");
}

}  // namespace

namespace {

// Every tool: unknown options and stray words refused with 2 and one line,
// --opt=value as --opt value, numbers in decimal or hex up to their limit.
TEST(CommandLines, EachToolReadsItsOptionsOneWay) {
    e2e::ModuleDir module("pxa270");
    const std::string dir = module.path().string();
    const std::string report = "--report=" + module.scratch("r.json").string();
    struct Case {
        const char* tool;
        std::vector<std::string> args;
        int status;
        const char* says;  // "" for --version: "TOOL N.N.N"
    };
    const Case cases[] = {
        {"updatetool", {"--version"}, 0, ""},
        {"updatetool", {"--module", dir, "--bogus"}, 2, "updatetool: unknown option --bogus"},
        {"updatetool", {"--module", dir, "--answer", "maybe"}, 2, "--answer: maybe not in"},
        {"updatetool",
         {"--module=" + dir, "--ui=line", report, "/f", "--report", "x"},
         0,
         "Registry Successfully Saved"},
        {"modulectl", {"--version"}, 0, ""},
        {"modulectl", {"frob", dir}, 2, "modulectl: unknown command 'frob'"},
        {"modulectl", {"show", dir, "extra"}, 2, "modulectl show: unexpected argument 'extra'"},
        {"modulectl", {"dump", dir, "--bogus"}, 2, "modulectl dump: unknown option --bogus"},
        {"modulectl", {"dump", dir, "--offset=0x100", "--length", "2"}, 0, "00000100  ff ff    "},
        {"modulectl", {"dump", dir, "--offset", "256", "--length=0x2"}, 0, "       |..|\n"},
        {"modulectl", {"show", dir, "--json"}, 0, "\"flash\": {\n    \"kind\": \"nor\""},
        {"modulectl", {"sections", dir, "--json"}, 0, "\"section\": \"Bootloader\""},
        {"modulectl", {"events", dir, "--json"}, 0, "\"program\": \"updatetool /f --report x\""},
        {"modulectl", {"verify", dir}, 2, "modulectl verify: IMAGE is required"},
        {"modulectl", {"verify", dir, dir}, 1, "modulectl verify: cannot read"},
        {"modulectl", {"dump", dir, "--length", "0x40000001"}, 2, "--length: '0x40000001' is over 1 GiB"},
        {"modulectl", {"pin", dir, "zz"}, 2, "modulectl pin: N: 'zz' is not a number"},
        {"modulectl", {"hold-flash", dir, "--seconds", "86401"}, 2, "--seconds: '86401' is over 86400"},
        {"modulectl",
         {"create", module.scratch("n").string(), "--set", "nor.query_size=abc"},
         2,
         "nor.query_size must be an integer in 17..26, not abc"},
        {"mkbin", {"--version"}, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.tool) + " " + c.args[0] + " " + (c.args.size() > 1 ? c.args.back() : ""));
        e2e::ToolRun run = e2e::run_tool(c.tool, c.args);
        EXPECT_EQ(run.exit_code, c.status) << run.output;
        if (*c.says) {
            EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        } else {
            EXPECT_TRUE(std::regex_match(run.output, std::regex(std::string(c.tool) + " [0-9]+\\.[0-9]+\\.[0-9]+\n")))
                << run.output;
        }
        if (c.status == 2) {
            EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << "one line";
        }
    }
    // The module command line is the program's, options or not.
    std::ifstream written(module.scratch("r.json"));
    std::string text((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
    EXPECT_EQ(e2e::json_value(text, "command_line"), "/f --report x");
}

// A profile written by hand: the module refuses to open on any key that
// breaks its rule, naming the file, the line and the key.
TEST(ModuleTool, BadProfilesAreRefusedWithFileLineAndKey) {
    const std::string good = "# by hand\n[cpu]\nproduct = 17\n[flash]\nkind = 'nor'\n[nor]\ndevice_code = 0x18\n";
    struct Case {
        std::string text;
        const char* says;  // after "module.toml"
    };
    const Case cases[] = {
        {good, ""},
        {good + "query_size = -1\n", ":8: nor.query_size -1 is outside 17..26"},
        {good + "query_size = 27\n", ":8: nor.query_size 27 is outside 17..26"},
        {good + "bogus = 1\n", ":8: unknown key nor.bogus"},
        {good + "[hal]\nitem5 = []\n", ":9: hal.item5 must be a list of 1 to 64 integers in 0..0xFFFFFFFF, not []"},
        {good + "[hal]\nitem0 = [1, 0x1_0000_0000]\n", ":9: hal.item0 must be a list of 1 to 64 integers"},
        {"[cpu]\nproduct = 0xFFFFFFFFFFFF\n[flash]\nkind = 'nor'\n", ":2: cpu.product 0xFFFFFFFFFFFF is outside 0..63"},
        {"[cpu]\nproduct = 17\n[flash]\nkind = 'nor'\n[nor]\ndevice_code = \"abc\"\n",
         ":6: nor.device_code must be an integer in 0..0xFFFF, not 'abc'"},
        {"[cpu]\nproduct = 17\n[flash]\nkind = 'disk'\n", ":4: flash.kind must be \"nor\" or \"nand\", not 'disk'"},
        {"[cpu]\nproduct = 17\n[flash]\nkind = 'nand'\n", ": nand.id is missing"},
        {"", ": cpu.product is missing"},
        {good + "[os]\nmajor = 1.5\n", ":9: os.major must be an integer in 0..0xFFFFFFFF, not a float"},
        {good + "[nor\n", ":8: "},
        {good + "[os]\nmajor = t\n", ":9: Error while parsing boolean: expected 'true', saw 't\\u000A'"},
        {good + "[registry.\"a\\nb\"]\nc = 1\n", ":9: a key holds a control character"},
        {good + "query_size = \"a\\n\\\"b\"\n",
         ":8: nor.query_size must be an integer in 17..26, not \"a\\u000A\\\"b\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        e2e::ModuleDir module("pxa270");
        testing_support::write_binary(module.file("module.toml"), std::vector<uint8_t>(c.text.begin(), c.text.end()));
        e2e::ToolRun run = e2e::run_tool("modulectl", {"show", module.path().string()});
        if (!*c.says) {
            EXPECT_EQ(run.exit_code, 0) << run.output;
            continue;
        }
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_NE(run.output.find("modulectl show: " + module.file("module.toml").string() + c.says), std::string::npos)
            << run.output;
        EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
    }
}

// modulectl set checks every value before it writes; what it writes keeps
// the file's comments and reads back as set.
TEST(ModuleTool, SetChecksEveryValueFirstAndKeepsComments) {
    e2e::ModuleDir module("pxa270");
    const std::string text =
        "# by hand\n[cpu]\nproduct = 17 # PXA27x\n[flash]\nkind = 'nor'\n[nor]\ndevice_code = 0x18\n";
    testing_support::write_binary(module.file("module.toml"), std::vector<uint8_t>(text.begin(), text.end()));
    auto file = [&] {
        std::vector<uint8_t> bytes = read_binary(module.file("module.toml"));
        return std::string(bytes.begin(), bytes.end());
    };
    const std::string dir = module.path().string();
    e2e::ToolRun run = e2e::run_tool("modulectl", {"set", dir, "nor.query_size=24", "nor.device_code=0x10000"});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_NE(run.output.find("nor.device_code=0x10000: nor.device_code 0x10000 is outside 0..0xFFFF"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(file(), text);

    run = e2e::run_tool("modulectl", {"set", dir, "nor.query_size=24", "cpu.product=0x11", "hal.item0=[1,2]"});
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(file(),
              "# by hand\n[cpu]\nproduct = 0x11 # PXA27x\n[flash]\nkind = 'nor'\n[nor]\nquery_size = 24\n"
              "device_code = 0x18\n\n[hal]\nitem0 = [ 1, 2 ]\n");
    const std::string set = file();
    for (const char* key : {"nor.querysize", "cpu.product"}) {
        run = e2e::run_tool("modulectl", {"unset", dir, "nor.query_size", key});
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_NE(run.output.find(std::string(key) == "cpu.product" ? "cpu.product is missing" : "unknown key"),
                  std::string::npos)
            << run.output;
        EXPECT_EQ(file(), set);
    }
    run = e2e::run_tool("modulectl", {"unset", dir, "nor.query_size", "hal.item0"});
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(file(),
              "# by hand\n[cpu]\nproduct = 0x11 # PXA27x\n[flash]\nkind = 'nor'\n[nor]\ndevice_code = 0x18\n\n[hal]\n");
    EXPECT_EQ(e2e::run_tool("modulectl", {"show", dir}).exit_code, 0);
}

// A flash file larger than the chip is refused as a smaller one is.
TEST(ModuleTool, FlashFilesOfAnotherSizeAreRefused) {
    struct Case {
        const char* profile;
        const char* file;
        int64_t change;  // bytes added (or taken away)
        int status;
    };
    const Case cases[] = {
        {"pxa270", "nor.bin", 1, 2},          {"pxa270", "nor.bin", -1, 2},
        {"pxa300-f1ec", "nand-0.main", 1, 2},                                         // 2048-byte pages x 65536
        {"pxa300-f1ec", "nand-0.oob", 1, 2},  {"pxa300-f1ec", "nand-0.main", -1, 0},  // shorter is erased flash
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.change));
        e2e::ModuleDir module(c.profile);
        uint64_t chip = std::string(c.file) == "nor.bin"       ? 0x2000000
                        : std::string(c.file) == "nand-0.main" ? 2048ull * 65536
                                                               : 64ull * 65536;
        std::filesystem::resize_file(module.file(c.file), chip + c.change);
        e2e::ToolRun run = e2e::run_tool("modulectl", {"show", module.path().string()});
        EXPECT_EQ(run.exit_code, c.status) << run.output;
        if (!c.status) {
            EXPECT_NE(run.output.find("flash:    NAND K9F1G08U0B (ID 0xF1EC), one chip; chip: 2048+64-byte pages, 64 "
                                      "pages a block, 1024 blocks; 128 MiB, 125 MiB addressed after 20 reserve blocks"),
                      std::string::npos)
                << run.output;
        }
        if (c.status) {
            EXPECT_NE(run.output.find(std::string(c.file) + " is " + std::to_string(chip + c.change) + " bytes"),
                      std::string::npos)
                << run.output;
        }
    }
}

}  // namespace
