// An update as a script runs it: the exit status, the outcome in the last
// line on stderr and in the report, and a failed flash operation named as
// the device saw it.
#include <gtest/gtest.h>

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
    {"NAND never ready",               "pxa300-f1ec", {"nand.fault.never_ready_after=3"},    false, {},                                                                          "/u IMG",  "",                                 1, "updatetool: update failed: Error erasing Flash!",                                                                  "module: block erase at 0x000a0000 never ended: chip 0 block 5 status 0x80 = busy; the program gave up waiting\n"},
    {"NAND bad block",                 "pxa300-f1ec", {"nand.bad_blocks=[5]"},               false, {},                                                                          "/u IMG",  "",                                 0, "updatetool: update succeeded",                                                                                     "module: bad block found: chip 0 block 5 (block erase at 0x000a0000, status 0xc1 = failed)\nmodule: logical block 5 now lies in physical block 1023\n"},
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
}

INSTANTIATE_TEST_SUITE_P(Runs, UpdateOutcome, testing::ValuesIn(kOutcomes), testing_support::CaseName<OutcomeCase>);

}  // namespace
