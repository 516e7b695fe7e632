// The dialogs at a terminal, as a person works them: the real updatetool in a
// tmux window, driven with keys and the mouse, read off the screen.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/terminal_screen.h"

namespace {

using e2e::Cell;
using e2e::find_on;
using e2e::TerminalRun;

const char kCaption[] = "Update Tool 2.7";

class Terminal : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TerminalRun::tmux_installed()) GTEST_SKIP() << "tmux is not installed";
    }
    // Host options for a module; the main dialog unless more is added.
    static std::vector<std::string> args(const e2e::ModuleDir& module, std::vector<std::string> more = {}) {
        std::vector<std::string> all = {"--module", module.path().string(), "--report",
                                        module.scratch("report.json").string()};
        all.insert(all.end(), more.begin(), more.end());
        return all;
    }
    static void expect_restored(TerminalRun& run, int exit_status) {
        EXPECT_EQ(run.wait_exit(), exit_status);
        std::string why;
        EXPECT_TRUE(run.terminal_restored(&why)) << why;
        EXPECT_EQ(run.errors().find("Sanitizer"), std::string::npos) << run.errors();
    }
};

TEST_F(Terminal, MainDialogIsDrawnFromItsTemplateAndItsCloseButtonEndsIt) {
    e2e::ModuleDir module("pxa270");
    TerminalRun run(args(module));
    std::string shown = run.wait_for(kCaption);
    // Template 101 is 119 x 119 dialog units: 30 x 15 cells inside its frame.
    Cell corner = find_on(shown, "\xe2\x94\x8c");  // ┌
    Cell caption = find_on(shown, kCaption);
    EXPECT_EQ(caption.row, corner.row);
    EXPECT_EQ(find_on(shown, "\xe2\x94\x94").row - corner.row, 16);        // └
    EXPECT_EQ(find_on(shown, "\xe2\x94\x90").column - corner.column, 31);  // ┐
    // Each button's text on the row of its centre (y + cy/2, over 8), its left
    // bracket at x/4, both rounded, inside the frame.
    struct Place {
        const char* label;
        int row, column;
    };
    // clang-format off
    const Place places[] = {
        {"[>Save Registry to Flash<]", 2,  2},  // y 7, the first tab stop has the focus
        {"[Clear Registry on Flash ]", 5,  2},  // y 28
        {"[Update Bootloader/Image ]", 7,  2},  // y 49, cy 19
        {"BSP Version",                10, 9},  // y 70; the text centred in 24 cells
        {"[Warmboot ]",                13, 2},  // y 93, x 7
        {"[Coldboot ]",                13, 17}, // y 93, x 69: right of Warmboot, last in tab order
    };
    // clang-format on
    for (const Place& place : places) {
        SCOPED_TRACE(place.label);
        Cell at = find_on(shown, place.label);
        EXPECT_EQ(at.row - corner.row - 1, place.row) << shown;
        EXPECT_EQ(at.column - corner.column - 1, place.column) << shown;
    }
    // The system menu's close button, at the caption's right end, is IDCANCEL.
    Cell close = find_on(shown, "[X]");
    EXPECT_EQ(close.row, corner.row);
    run.click(close.column + 1, close.row);
    expect_restored(run, 0);
    EXPECT_EQ(e2e::json_value(module.report(), "outcome"), "success");
}

TEST_F(Terminal, BspVersionByTabArrowsShiftTabAndTheMouse) {
    struct Case {
        const char* name;
        std::vector<std::string> keys;  // none: a click on the button, then on OK
    };
    const Case cases[] = {
        {"Tab", {"Tab", "Tab", "Tab", "Enter"}},
        {"arrows and Space", {"Down", "Down", "Down", "Down", "Up", "Space"}},
        {"Shift-Tab", {"BTab", "BTab", "BTab", "Enter"}},
        {"mouse", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        e2e::ModuleDir module("pxa270");
        TerminalRun run(args(module));
        std::string shown = run.wait_for(kCaption);
        if (c.keys.empty()) {
            Cell button = find_on(shown, "BSP Version");
            run.click(button.column, button.row);
        } else {
            run.keys(c.keys);
        }
        // Its lines as the text breaks them, tabs at eight characters.
        shown = run.wait_for("ID:     FENNARO");
        EXPECT_NE(shown.find("Bootloader (in Flash)"), std::string::npos) << shown;
        Cell ok = find_on(shown, "[  >OK<  ]");
        ASSERT_GE(ok.row, 0) << shown;
        if (c.keys.empty())
            run.click(ok.column + 4, ok.row);
        else
            run.keys({"Enter"});
        run.wait_for("FENNARO", true);
        run.keys({"Escape"});
        expect_restored(run, 0);
        std::vector<std::string> boxes = e2e::message_boxes(module.report());
        ASSERT_EQ(boxes.size(), 1u) << module.report();
        EXPECT_EQ(boxes[0].rfind("BSP Version: Bootloader (in Flash)", 0), 0u) << boxes[0];
    }
}

// The arrows go by where the buttons are, Tab by the template's order:
// Down from BSP Version lands on Warmboot below it (the tie between the two
// buttons below goes to the left one), not on Coldboot, next in tab order.
TEST_F(Terminal, ArrowsMoveTheFocusByTheButtonsPlacesOnScreen) {
    e2e::ModuleDir module("pxa270");
    TerminalRun run(args(module));
    run.wait_for(kCaption);
    struct Step {
        const char* key;
        const char* focused;
    };
    // clang-format off
    const Step steps[] = {
        {"Down",  ">Clear Registry on Flash<"},
        {"Down",  ">Update Bootloader/Image<"},
        {"Down",  ">BSP Version<"},
        {"Down",  ">Warmboot<"},
        {"Down",  ">Warmboot<"},   // nothing below: the focus stays
        {"Right", ">Coldboot<"},
        {"Left",  ">Warmboot<"},
        {"Up",    ">BSP Version<"},
        {"Tab",   ">Coldboot<"},   // Tab keeps the template's order
        {"Up",    ">BSP Version<"},
        {"Up",    ">Update Bootloader/Image<"},
    };
    // clang-format on
    for (const Step& step : steps) {
        SCOPED_TRACE(std::string(step.key) + " to " + step.focused);
        run.keys({step.key});
        run.wait_for(step.focused);
    }
    run.keys({"Escape"});
    expect_restored(run, 0);
}

// A module whose chips erase and program fast enough for an update of
// 1 MiB to take under a second at the wall clock's pace, with a bootloader
// in flash to warn about and a folder of files for the file dialog.
// Slowed chips, so that a screen with a bar part-filled lasts long enough to
// be captured twice alike, also on a loaded machine.
struct ImageModule {
    explicit ImageModule(int erase_ms = 60, int buffer_program_us = 160)
        : module("pxa270",
                 {"nor.time.block_erase_ms=" + std::to_string(erase_ms),
                  "nor.time.buffer_program_us=" + std::to_string(buffer_program_us), "nor.time.word_program_us=20"}) {
        e2e::bootloader_on_flash(module);
        std::filesystem::path images = module.file("root/images");
        std::filesystem::create_directories(images / "sub");
        std::ofstream(images / "readme.txt") << "not an image\n";
        e2e::ToolRun made = e2e::run_tool("mkbin", {"-o", (images / "big.bin").string(), "--start", "0", "--length",
                                                    "0x100000", "--fill", "pattern", "--rom"});
        EXPECT_EQ(made.exit_code, 0) << made.output;
    }
    e2e::ModuleDir module;
};

// Some bar is on its way: neither empty nor full.
bool bar_moving(const std::string& shown) {
    for (double fill : e2e::bar_fills(shown))
        if (fill > 0 && fill < 1) return true;
    return false;
}

TEST_F(Terminal, UpdateWalksTheFileDialogAnswersTheWarningAndShowsProgress) {
    for (bool go_on : {false, true}) {
        SCOPED_TRACE(go_on ? "OK" : "Cancel");
        ImageModule image;
        std::filesystem::copy_file(image.module.file("nor.bin"), image.module.scratch("nor.before"));
        TerminalRun run(args(image.module, {"--speed", "realtime"}));
        run.wait_for(kCaption);
        run.keys({"Tab", "Tab", "Enter"});
        // The file dialog starts in the module's root; Cancel gives nothing.
        std::string shown = run.wait_for("Look in: \\ ");
        EXPECT_NE(shown.find("> images\\"), std::string::npos) << shown;
        EXPECT_NE(shown.find("windows\\"), std::string::npos) << shown;
        EXPECT_NE(shown.find("Files of type: IMAGE files (*.bin)"), std::string::npos) << shown;
        // Beside the module's folders, the host's folder the run started in.
        EXPECT_NE(shown.find("  [this computer] /"), std::string::npos) << shown;
        run.keys({"Escape"});
        shown = run.wait_for("Look in:", true);
        EXPECT_EQ(shown.find("Updating IMAGE"), std::string::npos) << shown;

        // Into a folder, up again with Backspace, and in once more.
        run.keys({"Enter"});
        run.wait_for("Look in: \\ ");
        run.keys({"Enter"});
        shown = run.wait_for("Look in: \\images");
        EXPECT_NE(shown.find("> .."), std::string::npos) << shown;
        EXPECT_NE(shown.find("sub\\"), std::string::npos) << shown;
        EXPECT_NE(shown.find("big.bin"), std::string::npos) << shown;
        EXPECT_EQ(shown.find("readme.txt"), std::string::npos) << shown;
        run.keys({"BSpace"});
        run.wait_for("Look in: \\images", true);
        run.keys({"Enter"});
        run.wait_for("Look in: \\images");
        // A typed name that is not there is refused, and the dialog stays.
        run.keys({"-l", "missing.bin"});
        run.keys({"Enter"});
        run.wait_for("file not found: \\images\\missing.bin");
        // A folder typed in full is walked into: a host folder, then a module one.
        std::string host = image.module.path().parent_path().string();
        run.keys({"-l", host});
        run.keys({"Enter"});
        shown = run.wait_for("Look in: " + host + " ");
        EXPECT_NE(shown.find("  boot.bin"), std::string::npos) << shown;
        EXPECT_NE(shown.find("  m/"), std::string::npos) << shown;
        run.keys({"-l", "\\images"});
        run.keys({"Enter"});
        run.wait_for("Look in: \\images");
        run.keys({"Down", "Down"});
        run.wait_for("File name: big.bin");
        run.keys({"Enter"});

        // The warning: its mark, the section, Cancel the default button.
        shown = run.wait_for("WARNING");
        for (const char* part : {"/!\\  This Image will overwrite the following sections:", "Bootloader",
                                 "Are you sure you want to continue?", "[   OK   ]", "[>Cancel<]"})
            EXPECT_NE(shown.find(part), std::string::npos) << part << "\n" << shown;
        EXPECT_EQ(shown.find("Abort"), std::string::npos) << shown;
        if (!go_on) {
            run.keys({"Enter"});
            run.wait_for("Updating IMAGE", true);
        } else {
            run.keys({"Left"});
            run.wait_for("[  >OK<  ]");
            run.keys({"Enter"});
            // The texts change with the bars while the worker runs.
            shown = run.wait_until(bar_moving, "a progress bar on its way");
            EXPECT_NE(shown.find("Image: 00000000  Len: 00100000(1048576)"), std::string::npos) << shown;
            // A record's line is longer than its control's cells: it is shown whole.
            run.wait_for("Section: 00000000  Len: 00100000(1048576)");
            run.wait_for("Reset now?");
            run.keys({"n"});
            run.wait_for("Updating IMAGE", true);
        }
        run.keys({"Escape"});
        expect_restored(run, go_on ? 0 : 3);

        std::string report = image.module.report();
        std::vector<std::string> boxes = e2e::message_boxes(report);
        ASSERT_EQ(boxes.size(), go_on ? 2u : 1u) << report;
        EXPECT_EQ(boxes[0].rfind("WARNING: ", 0), 0u);
        EXPECT_EQ(e2e::json_value(report, "reboot"), "null");
        if (go_on) {
            EXPECT_EQ(boxes[1], "RESET: To finish the update reset the system.\n Reset now?");
        }
        // The flash is written only when the warning was answered OK.
        std::string same = "cmp -s " + e2e::shell_quote(image.module.file("nor.bin").string()) + " " +
                           e2e::shell_quote(image.module.scratch("nor.before").string());
        EXPECT_EQ(testing_support::run_command(same, nullptr) != 0, go_on);
    }
}

// A command-line job at the terminal when asked; the progress dialog's Abort
// button is hidden, yet Escape still aborts. It comes while the erase of four
// written blocks, 1.6 s, runs: an abort in the middle of a record would fail
// that record's checksum instead.
TEST_F(Terminal, EscapeAbortsAnUpdateWhoseAbortButtonIsHidden) {
    ImageModule image(400);
    image.module.fill_nor(0x00);
    TerminalRun run(args(image.module, {"--speed", "realtime", "--ui", "terminal", "/u", "\\images\\big.bin"}));
    std::string shown = run.wait_until(
        [](const std::string& screen) {
            return bar_moving(screen) && screen.find("Erasing Flash Sector at") != std::string::npos;
        },
        "the erase on its way");
    EXPECT_NE(shown.find("Updating IMAGE"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("Abort"), std::string::npos) << shown;
    run.keys({"Escape"});
    expect_restored(run, 4);
    std::string report = image.module.report();
    EXPECT_EQ(e2e::json_value(report, "outcome"), "aborted") << report;
}

TEST_F(Terminal, EveryWayOutGivesTheTerminalBack) {
    struct Case {
        const char* name;
        std::vector<std::string> job;  // after the host options
        const char* shown;             // what to wait for before the way out
        std::vector<std::string> keys;
        int signal;  // 0: none
        int exit_status;
    };
    const Case cases[] = {
        {"Ctrl-C cancels the main dialog", {}, kCaption, {"C-c"}, 0, 0},
        {"Coldboot reboots", {}, kCaption, {"BTab", "BTab", "Enter"}, 0, 0},
        {"Ctrl-C with no dialog open", {"--ui", "terminal", "/f"}, "Registry Successfully Saved", {"C-c"}, 0, 130},
        {"SIGTERM", {}, kCaption, {}, SIGTERM, 143},
        {"a crash", {}, kCaption, {}, SIGSEGV, 139},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        e2e::ModuleDir module("pxa270");
        TerminalRun run(args(module, c.job));
        run.wait_for(c.shown);
        if (!c.keys.empty()) run.keys(c.keys);
        if (c.signal) run.signal(c.signal);
        expect_restored(run, c.exit_status);
    }
}

TEST_F(Terminal, TooSmallATerminalSaysSoUntilItIsEnlarged) {
    e2e::ModuleDir module("pxa270");
    TerminalRun run(args(module), 24, 8);
    std::string shown = run.wait_for("Enlarge the window");
    EXPECT_EQ(shown.find(kCaption), std::string::npos) << shown;
    run.resize(100, 30);
    run.wait_for(kCaption);
    run.keys({"Escape"});
    expect_restored(run, 0);
}

// The line protocol stays where a script reads lines: input that is not a
// terminal, and the command-line jobs.
TEST_F(Terminal, LineProtocolWithoutATerminalOnStdinOrForACommandLineJob) {
    e2e::ModuleDir module("pxa270");
    {
        TerminalRun run(args(module), 100, 30, "/dev/null");
        run.wait_for("[Update Tool 2.7] buttons: Save Registry to Flash");
        EXPECT_EQ(run.wait_exit(), 0);
    }
    TerminalRun run(args(module, {"/f"}));
    run.wait_for("[Registry] Registry Successfully Saved");
    run.keys({"Enter"});
    run.wait_for("[Registry] answer: OK");
    EXPECT_EQ(run.wait_exit(), 0);
}

}  // namespace
