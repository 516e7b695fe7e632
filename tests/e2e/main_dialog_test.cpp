// The main dialog through stdin lines, as a script drives it: its buttons by
// text or id, and an update from it with the file dialog, the warning and
// the reset question.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"

namespace {

using testing_support::read_binary;

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
    EXPECT_NE(module.events().find("registry"), std::string::npos);
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
    std::string other = module.make_image("other.bin", {"--start", "0", "--length", "0x1000", "--fill", "0x22"});
    e2e::ToolRun run = module.update_tool({"--answer", "cancel"}, "", "Update Bootloader/Image\n" + other + "\n");
    EXPECT_EQ(run.exit_code, 3);
    EXPECT_EQ(run.last_error_line(), "updatetool: update declined at the overwrite warning");
    std::string report = module.report();
    EXPECT_EQ(e2e::json_value(report, "outcome"), "declined") << report;
    EXPECT_EQ(read_binary(module.file("nor.bin")), before);
}

}  // namespace
