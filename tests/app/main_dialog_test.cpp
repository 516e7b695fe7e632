// The main dialog: its caption and the job behind each button.
#include <gtest/gtest.h>

#include "module/observer.h"
#include "shell/shell_state.h"
#include "tests/app/app_harness.h"
#include "tests/support/test_module.h"

namespace app_tests {
namespace {

using testing_support::TestModule;

std::vector<std::u16string> captions(sim::ui::ScriptedFrontEnd& ui) {
    std::vector<std::u16string> out;
    for (const sim::ui::UiEvent& e : ui.events(sim::ui::UiEvent::Kind::text))
        if (e.control_id == 0) out.push_back(e.text);
    return out;
}

TEST(MainDialog, CaptionShowsTheVersion) {
    TestModule module("pxa270");
    AppHarness harness;
    EXPECT_EQ(harness.run(""), 1);
    EXPECT_EQ(captions(harness.ui()), std::vector<std::u16string>{u"Update Tool 2.7"});
    // Closed: no window owns anything any more.
    EXPECT_EQ(MainWindow, nullptr);
}

struct ButtonCase {
    const char* button;
    std::vector<std::string> overrides;
    std::vector<std::string> boxes;
    std::vector<bool> registry;
    int reboots;
    bool cold;
};

TEST(MainDialog, EachButtonRunsItsJobAndTheDialogStays) {
    // clang-format off
    const ButtonCase cases[] = {
        {"Save Registry to Flash", {}, {"Registry: Registry Successfully Saved"}, {true}, 0, false},
        {"Save Registry to Flash", {"registry.flush_fails=true"}, {"Registry: Registry Save FAILED!"}, {false}, 0, false},
        {"Clear Registry on Flash", {}, {"Registry: Registry Successfully Cleared"}, {true}, 0, false},
        {"Clear Registry on Flash", {"hal.clear_registry=false"}, {"Registry: Registry Clear FAILED!"}, {false}, 0,
         false},
        {"Coldboot", {}, {}, {}, 1, true},
        {"Warmboot", {}, {}, {}, 1, false},
    };
    // clang-format on
    for (const ButtonCase& c : cases) {
        SCOPED_TRACE(std::string(c.button) + (c.overrides.empty() ? "" : " " + c.overrides[0]));
        TestModule module("pxa270", c.overrides);
        AppHarness harness;
        // The same button twice: the dialog is still there after the first job.
        harness.ui().press(c.button);
        harness.ui().press(c.button);
        EXPECT_EQ(harness.run(""), 1);
        std::vector<std::string> twice = c.boxes;
        twice.insert(twice.end(), c.boxes.begin(), c.boxes.end());
        EXPECT_EQ(harness.boxes(), twice);
        std::vector<bool> registry_twice = c.registry;
        registry_twice.insert(registry_twice.end(), c.registry.begin(), c.registry.end());
        EXPECT_EQ(harness.registry_results(), registry_twice);
        std::vector<SeenReboot> reboots = harness.reboots();
        ASSERT_EQ(reboots.size(), static_cast<size_t>(2 * c.reboots));
        for (const SeenReboot& r : reboots) EXPECT_EQ(r.cold, c.cold);
    }
}

TEST(MainDialog, UpdateButtonAsksForAFileEveryTime) {
    TestModule module("pxa270");
    AppHarness harness;
    // A file that is not a .bin image: the update ends with its message.
    std::filesystem::path not_an_image = module.dir() / "notes.bin";
    testing_support::write_binary(not_an_image, {'x'});
    harness.ui().press("Update Bootloader/Image");
    harness.ui().choose_file(sim::utf16(not_an_image.string()));
    harness.ui().press("Update Bootloader/Image");
    EXPECT_EQ(harness.run(""), 1);
    harness.wait_for_worker();
    EXPECT_EQ(harness.file_dialogs(), 2u);
    EXPECT_EQ(harness.boxes(), std::vector<std::string>{"ERRER: Not a WinCE Binary Image file!"});
    EXPECT_EQ(harness.workers_ended(), 1);
    EXPECT_EQ(harness.dialogs_ended(), (std::vector<std::string>{"Updating IMAGE", "Updating IMAGE", "Update Tool"}));
    EXPECT_EQ(QuietMode, 0u);
}

}  // namespace
}  // namespace app_tests
