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
    EXPECT_EQ(run.exit_code, 1);
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
    module.update_tool({"--answer", "cancel"}, "", "Update Bootloader/Image\n" + other + "\n");
    std::string report = module.report();
    EXPECT_EQ(e2e::json_value(report, "outcome"), "declined") << report;
    EXPECT_EQ(read_binary(module.file("nor.bin")), before);
}

TEST(Commands, RegistryJobsReportTheirOutcome) {
    struct Case {
        const char* command;
        std::vector<std::string> sets;
        const char* outcome;
        const char* box;  // empty: no box (quiet)
    };
    const Case cases[] = {
        {"/f", {}, "success", "Registry: Registry Successfully Saved"},
        {"/fx", {}, "success", "Registry: Registry Successfully Saved"},
        {"/fu", {}, "success", ""},
        {"/f", {"registry.flush_fails=true"}, "failure", "Registry: Registry Save FAILED!"},
        {"/fuxyz", {"registry.flush_fails=true"}, "failure", ""},
        {"/c", {}, "success", "Registry: Registry Successfully Cleared"},
        {"/c", {"hal.clear_registry=false"}, "failure", "Registry: Registry Clear FAILED!"},
        {"/cu", {"hal.clear_registry=false"}, "failure", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        e2e::ModuleDir module("pxa270", c.sets);
        module.update_tool({}, c.command);
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
    };
    for (const Case& c : {Case{"/rc", "cold"}, Case{"/rc2000", "cold"}, Case{"/r", "warm"}, Case{"/r 5", "warm"},
                          Case{"/ru", "warm"}, Case{"/rcx", "cold"}, Case{"/r-1", "warm"}}) {
        SCOPED_TRACE(c.command);
        e2e::ModuleDir module("pxa270");
        e2e::ToolRun run = module.update_tool({}, c.command);
        EXPECT_EQ(run.exit_code, 1);
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
        EXPECT_EQ(run.exit_code, 1);
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
         1,
         "Registry Successfully Saved"},
        {"modulectl", {"--version"}, 0, ""},
        {"modulectl", {"frob", dir}, 2, "modulectl: unknown command 'frob'"},
        {"modulectl", {"show", dir, "extra"}, 2, "modulectl show: unexpected argument 'extra'"},
        {"modulectl", {"dump", dir, "--bogus"}, 2, "modulectl dump: unknown option --bogus"},
        {"modulectl", {"dump", dir, "--offset=0x100", "--length", "2"}, 0, "00000100  ff ff\n"},
        {"modulectl", {"dump", dir, "--offset", "256", "--length=0x2"}, 0, "00000100  ff ff\n"},
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
        EXPECT_EQ(run.exit_code, 1);
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
        {"pxa270", "nor.bin", 1, 1},          {"pxa270", "nor.bin", -1, 1},
        {"pxa300-f1ec", "nand-0.main", 1, 1},                                         // 2048-byte pages x 65536
        {"pxa300-f1ec", "nand-0.oob", 1, 1},  {"pxa300-f1ec", "nand-0.main", -1, 0},  // shorter is erased flash
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
        if (c.status) {
            EXPECT_NE(run.output.find(std::string(c.file) + " is " + std::to_string(chip + c.change) + " bytes"),
                      std::string::npos)
                << run.output;
        }
    }
}

}  // namespace
