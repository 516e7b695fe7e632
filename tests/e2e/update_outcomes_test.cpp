// An update as a script runs it: the exit status, the outcome in the last
// line on stderr and in the report, and a failed flash operation named as
// the device saw it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/e2e/e2e_support.h"
#include "tests/support/case_name.h"

namespace {

struct OutcomeCase {
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

// clang-format off
// name                                profile        sets                                   old    host args                                                                    command    input                               status last line (its start)                                                                                           says
const OutcomeCase kOutcomes[] = {
    {"success",                        "pxa270",      {},                                    true,  {},                                                                          "/u IMG",  "",                                 0, "updatetool: update succeeded (1.0 MiB erased, 1.0 MiB written)",                                                  ""},
    {"verified",                       "pxa270",      {},                                    false, {"--verify"},                                                                "/u IMG",  "",                                 0, "updatetool: update succeeded (0 B erased, 1.0 MiB written); verified, matches: 1 record, 0x100000 bytes",       ""},
    {"the program's own exit status",  "pxa270",      {},                                    false, {"--module-exit-status"},                                                    "/u IMG",  "",                                 1, "updatetool: update succeeded",                                                                                     ""},
    {"program error",                  "pxa270",      {"nor.fault.program_error=[0x80000]"}, false, {},                                                                          "/u IMG",  "",                                 1, "updatetool: update failed: Error writing to Flash!",                                                               "module: buffer program at 0x00080000 failed: chip 0 status 0x90 = program error\n"},
    {"stuck lock bit",                 "pxa270-p30",  {"nor.fault.stuck_lock=[0xC0000]"},    false, {},                                                                          "/u IMG",  "",                                 1, "updatetool: update failed: Error erasing Flash!",                                                                  "module: unlock at 0x000c0000 failed: chip 0 status 0xa0 = unlock error (the block's lock bit is stuck)\n"},
    {"erase error",                    "pxa270",      {"nor.fault.erase_error=[0xC0000]"},   true,  {},                                                                          "/u IMG",  "",                                 1, "updatetool: update failed: Error erasing Flash!",                                                                  "module: block erase at 0x000c0000 failed: chip 0 status 0xa0 = erase error\n"},
    {"never ready",                    "pxa270",      {"nor.fault.never_ready=true"},        true,  {},                                                                          "/u IMG",  "",                                 1, "updatetool: update failed: Error erasing Flash!",                                                                  "module: block erase at 0x00080000 never ended: chip 0 status 0x00 = busy; the program gave up waiting\n"},
    // Busy operations: the reset, then for each block two reads of its markers and its erase.
    {"NAND never ready",               "pxa300-f1ec", {"nand.fault.never_ready_after=7"},    false, {},                                                                          "/u IMG",  "",                                 1, "updatetool: update failed: Error erasing Flash!",                                                                  "module: block erase at 0x000a0000 never ended: chip 0 block 5 status 0x80 = busy; the program gave up waiting\n"},
    // A block with a factory marker is moved without a try of its erase.
    {"NAND bad block",                 "pxa300-f1ec", {"nand.bad_blocks=[5]"},               false, {},                                                                          "/u IMG",  "",                                 0, "updatetool: update succeeded",                                                                                     "module: logical block 5 now lies in physical block 1023\n"},
    // Marked blocks whose every program and erase would succeed: neither 5 nor the reserve's 1023 is used.
    {"NAND weak bad blocks",           "pxa300-f1ec", {"nand.bad_blocks=[5,1023]", "limits.weak_bad_blocks=1000000"}, false, {},                                          "/u IMG",  "",                                 0, "updatetool: update succeeded (1.2 MiB erased, 1.0 MiB written)",                                                  "module: logical block 5 now lies in physical block 1022\n"},
    // Every busy time at the datasheet's maximum: no wait of the program runs out first.
    {"J3 at maximum busy times",       "pxa270",      {"limits.timing=max"},                 true,  {},                                                                          "/u IMG",  "",                                 0, "updatetool: update succeeded (1.0 MiB erased, 1.0 MiB written)",                                                  ""},
    {"P30 at maximum busy times",      "pxa270-p30",  {"limits.timing=max"},                 true,  {},                                                                          "/u IMG",  "",                                 0, "updatetool: update succeeded (1.0 MiB erased, 1.0 MiB written)",                                                  ""},
    {"75EC at maximum busy times",     "pxa320-75ec", {"limits.timing=max"},                 false, {},                                                                          "/u IMG",  "",                                 0, "updatetool: update succeeded (1.0 MiB erased, 1.0 MiB written)",                                                  ""},
    {"76EC at maximum busy times",     "pxa320-76ec", {"limits.timing=max"},                 false, {},                                                                          "/u IMG",  "",                                 0, "updatetool: update succeeded (1.0 MiB erased, 1.0 MiB written)",                                                  ""},
    {"D3EC at maximum busy times",     "pxa320-d3ec", {"limits.timing=max"},                 false, {},                                                                          "/u IMG",  "",                                 0, "updatetool: update succeeded (1.0 MiB erased, 1.0 MiB written)",                                                  ""},
    {"F1EC at maximum busy times",     "pxa300-f1ec", {"limits.timing=max"},                 false, {},                                                                          "/u IMG",  "",                                 0, "updatetool: update succeeded (1.0 MiB erased, 1.0 MiB written)",                                                  ""},
    {"DCAD at maximum busy times",     "pxa320-dcad", {"limits.timing=max"},                 false, {},                                                                          "/u IMG",  "",                                 0, "updatetool: update succeeded (1.0 MiB erased, 1.0 MiB written)",                                                  ""},
    // The power goes part-way through an operation: the run stops there.
    {"power cut",                      "pxa270",      {"power.cut_at_op=1"},                 true,  {},                                                                          "/u IMG",  "",                                 5, "updatetool: power cut: the module stopped in the block erase at 0x00080000 (256 KiB) cut ",                         "module: power cut: block erase at 0x00080000 (256 KiB) cut "},
    {"power cut by time",              "pxa270",      {"power.cut_at_time_us=500000"},       true,  {},                                                                          "/u IMG",  "",                                 5, "updatetool: power cut: the module stopped in the block erase at 0x00080000 (256 KiB) cut 50% through (operation 1)", "module: power cut: block erase at 0x00080000 (256 KiB) cut 50% through (operation 1)\n"},
    {"NAND power cut",                 "pxa300-f1ec", {"power.cut_at=erase@0xa0000"},        false, {},                                                                          "/u IMG",  "",                                 5, "updatetool: power cut: the module stopped in the block erase of nand-0 block 5 (0x000a0000) cut ",                 "module: power cut: block erase of nand-0 block 5 (0x000a0000) cut "},
    {"no file chosen",                 "pxa270",      {},                                    false, {},                                                                          "",        "Update Bootloader/Image\n\n",      3, "updatetool: update declined: no image file was chosen",                                                            ""},
    {"aborted",                        "pxa270",      {},                                    false, {"--escape-at", "Erasing Flash Sector"},                                     "/u IMG",  "",                                 4, "updatetool: update aborted before anything was erased",                                                            ""},
    // The reset question comes before the worker's end: the abort still counts.
    {"aborted, then reset",            "pxa270",      {},                                    false, {"--escape-at", "Erasing Flash Sector", "--answer", "ok", "--answer", "yes"}, "",        "Update Bootloader/Image\nIMG\n",   4, "updatetool: update aborted before anything was erased",                                                            "module: cold reboot\n"},
    {"unused answers",                 "pxa270",      {},                                    false, {"--answer", "no", "--answer", "ok"},                                        "/u IMG",  "",                                 0, "updatetool: update succeeded",                                                                                     "updatetool: --answer values left unused (no message box took them): no, ok\n"},
    {"an answer that is no button",    "pxa270",      {},                                    false, {"--answer", "yes"},                                                         "/f",      "",                                 2, "updatetool: --answer yes is not a button of the box \"Registry\" (OK)",                                            "[Registry] refused: "},
    {"a typed answer that is no button", "pxa270",    {},                                    false, {},                                                                          "/f",      "maybe\n",                          2, "updatetool: \"maybe\" is not a button of the box \"Registry\" (OK)",                                               ""},
    // Off a terminal a word for the main dialog that names none of its buttons ends the run.
    {"a main-dialog word that is no button", "pxa270", {},                                   false, {},                                                                          "",        "Update\n",                         2, "updatetool: \"Update\" is not a button of the dialog \"Update Tool 2.7\" (Save Registry to Flash | Clear Registry on Flash | Update Bootloader/Image | BSP Version | Coldboot | Warmboot)", "[Update Tool 2.7] refused: "},
    // The reset question comes after the flash was written: the update's outcome comes first.
    {"an answer that is no button of the reset question", "pxa270", {},                     false, {"--answer", "ok", "--answer", "cancel"},                                    "",        "Update Bootloader/Image\nIMG\n",   2, "updatetool: update succeeded (0 B erased, 1.0 MiB written); --answer cancel is not a button of the box \"RESET\" (Yes | No)", "[RESET] refused: "},
    {"dry run",                        "pxa270",      {},                                    true,  {"--dry-run"},                                                               "/u IMG",  "",                                 0, "updatetool: dry run: the update would succeed (1.0 MiB erased, 1.0 MiB written)",                                 "  outcome: success; "},
    {"dry run that fails",             "pxa270",      {"nor.fault.erase_error=[0xC0000]"},   true,  {"--dry-run"},                                                               "/u IMG",  "",                                 1, "updatetool: dry run: the update would fail: Error erasing Flash!",                                                "module: block erase at 0x000c0000 failed: chip 0 status 0xa0 = erase error\n"},
    {"no such file",                   "pxa270",      {},                                    false, {},                                                                          "/u /no/such.bin", "",                         1, "updatetool: update failed: Cannot Open Image File /no/such.bin",                                                   ""},
};
// clang-format on

void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.name; }

class UpdateOutcome : public testing::TestWithParam<OutcomeCase> {};

TEST_P(UpdateOutcome, ExitStatusLastLineAndTheFailedOperation) {
    const OutcomeCase& c = GetParam();
    e2e::ModuleDir module(c.profile, c.sets);
    if (c.old_data) module.fill_nor(0x00);
    std::string image =
        module.make_image("os.bin", {"--start", "0x80080000", "--length", "0x100000", "--fill", "pattern"});
    e2e::ToolRun run = module.update_tool(c.host_args, e2e::replace_all(c.command, "IMG", image),
                                          e2e::replace_all(c.input, "IMG", image));
    EXPECT_EQ(run.exit_code, c.status) << run.output;
    EXPECT_EQ(run.last_error_line().rfind(c.last_line, 0), 0u) << run.errors;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
    std::string report = module.report();
    EXPECT_EQ(e2e::json_value(report, "summary"), run.last_error_line());
    bool diagnosed = std::string(c.says).find(" chip 0 status") != std::string::npos ||
                     std::string(c.says).find(" chip 0 block 5 status") != std::string::npos;
    EXPECT_EQ(e2e::json_value(report, "failed_operation") != "null", diagnosed) << report;
    EXPECT_EQ(e2e::json_value(report, "datasheet_violations"), "[]") << "the program breaks no chip's rule";
}

INSTANTIATE_TEST_SUITE_P(Runs, UpdateOutcome, testing::ValuesIn(kOutcomes), testing_support::CaseName<OutcomeCase>);

// An erase that only one chip of the doubled bus misses goes unnoticed (the
// other raises RDY): the second update programs that chip's pages of logical
// block 16 again over the first update's data, past the part's NOP of one.
TEST(DatasheetViolations, InTheReportTheLastLineTheEventLogAndCheck) {
    e2e::ModuleDir module("pxa320-75ec", {"limits.nop=record"});
    std::string image =
        module.make_image("os.bin", {"--start", "0x80080000", "--length", "0x100000", "--fill", "pattern"});
    ASSERT_EQ(module.update_tool({}, "/u " + image).exit_code, 0);
    ASSERT_EQ(e2e::run_tool("modulectl", {"set", module.path().string(), "nand.fault.missed_erase=[2064]"}).exit_code,
              0);
    e2e::ToolRun run = module.update_tool({}, "/u " + image);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(
        run.last_error_line(),
        "updatetool: update succeeded (1008.0 KiB erased, 1.0 MiB written); 32 datasheet violations (events.log)");
    nlohmann::json violations = nlohmann::json::parse(e2e::json_value(module.report(), "datasheet_violations"));
    ASSERT_EQ(violations.size(), 32u);
    EXPECT_EQ(violations[0], nlohmann::json::parse(R"({"rule": "nop-main", "chip": 1, "address": 262144,
        "text": "nand-1: page 512 main area programmed 2 times since its block's erase; the part allows 1"})"));
    std::vector<uint8_t> log = testing_support::read_binary(module.path() / "events.log");
    EXPECT_NE(std::string(log.begin(), log.end()).find("nand-1: datasheet: page 543 main area programmed 2 times"),
              std::string::npos);
    e2e::ToolRun check = e2e::run_tool("modulectl", {"check", module.path().string()});
    EXPECT_NE(check.output.find("datasheet: nand-1 page 512: main area programmed 2 times since its block's erase; "
                                "the part allows 1\n"),
              std::string::npos)
        << check.output;
}

}  // namespace
