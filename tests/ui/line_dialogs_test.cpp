// Dialogs through the line front-end: the main dialog's buttons from input
// lines and IDCANCEL at the end of input, progress printed in steps, and a
// dialog without visible buttons leaving the input alone; when a run gets
// this front-end rather than the terminal one.
#include <regex>
#include <thread>

#include "res/resource_ids.h"
#include "ui_test_support.h"

namespace {

std::vector<int>* commands = nullptr;

BOOL CALLBACK RecordingMainProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        SetWindowTextW(dialog, u"Update Tool 2.7");
        return TRUE;
    }
    if (message != WM_COMMAND) return FALSE;
    commands->push_back(LOWORD(wParam));
    if (LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 0);
    return TRUE;
}

class LineDialogs : public ui_test::LineUi {
protected:
    std::vector<int> run_main_dialog(const std::string& text) {
        std::vector<int> seen;
        commands = &seen;
        // As typed at a terminal: a word that names no button is answered and
        // the dialog goes on (without a terminal it ends the run with status 2).
        sim::ui::LineOptions at_terminal;
        at_terminal.ask_again = true;
        start(text, at_terminal);
        INT_PTR result = DialogBoxIndirectParamW(
            ui_test::program_instance(), ui_test::program_template(IDD_MAIN_DIALOG), nullptr, RecordingMainProc, 0);
        EXPECT_EQ(result, 0);
        commands = nullptr;
        return seen;
    }
};

TEST_F(LineDialogs, MainDialogButtonsFromInputLines) {
    struct Case {
        std::string input;
        std::vector<int> commands;
        std::vector<std::string> complaints;
        // clang-format off
    } cases[] = {
        {"", {IDCANCEL}, {}},
        {"1004\n", {1004, IDCANCEL}, {}},
        {"bsp version\n", {1004, IDCANCEL}, {}},
        {"Coldboot\nWARMBOOT\n\n1001\n", {1003, 1005, 1001, IDCANCEL}, {}},
        {"Save Registry to Flash\nClear Registry on Flash\nUpdate Bootloader/Image\n", {1001, 1000, 1002, IDCANCEL}, {}},
        {"nonsense\n1000\n", {1000, IDCANCEL}, {"[Update Tool 2.7] no such button: nonsense"}},
        // 2 is no visible button of this dialog.
        {"2\n999\n", {IDCANCEL}, {"[Update Tool 2.7] no such button: 2", "[Update Tool 2.7] no such button: 999"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        TearDown();
        SetUp();
        output.str("");
        EXPECT_EQ(run_main_dialog(c.input), c.commands);
        std::vector<std::string> out = lines();
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(out.front(),
                  "[Update Tool 2.7] buttons: Save Registry to Flash | Clear Registry on Flash | Update "
                  "Bootloader/Image | BSP Version | Coldboot | Warmboot");
        std::vector<std::string> complaints;
        for (const std::string& line : out)
            if (line.find("no such button") != std::string::npos) complaints.push_back(line);
        EXPECT_EQ(complaints, c.complaints);
        EXPECT_EQ(out.back(), "[Update Tool 2.7] closed: 0");
    }
}

// A dialog that ignores IDCANCEL is sent it once at the end of input, not
// again and again; another thread can still end it.
struct StubbornRun {
    int cancels = 0;
    std::thread closer;
};
StubbornRun* stubborn = nullptr;

BOOL CALLBACK StubbornProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        if (stubborn->cancels++ == 0) stubborn->closer = std::thread([dialog] { EndDialog(dialog, 5); });
        return TRUE;
    }
    return FALSE;
}

TEST_F(LineDialogs, EndOfInputCancelsOnce) {
    StubbornRun record;
    stubborn = &record;
    start("");
    INT_PTR result = DialogBoxIndirectParamW(ui_test::program_instance(), ui_test::program_template(IDD_MAIN_DIALOG),
                                             nullptr, StubbornProc, 0);
    record.closer.join();
    stubborn = nullptr;
    EXPECT_EQ(result, 5);
    EXPECT_EQ(record.cancels, 1);
}

// The progress bar is printed when it gets a range, moves by ten points or
// more, or reaches 100%.
struct ProgressStep {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    const char* printed;  // null: nothing printed
};
const std::vector<ProgressStep>* steps = nullptr;
std::thread progress_thread;

BOOL CALLBACK ProgressStepsProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        progress_thread = std::thread([dialog] {
            HWND bar = GetDlgItem(dialog, IDC_PROGRESS_RECORD);
            for (const ProgressStep& step : *steps) SendMessageW(bar, step.message, step.wParam, step.lParam);
            SetDlgItemTextW(dialog, IDC_IMAGE_LINE, u"Image: 00080000  Len: 00001000(4096)");
            EndDialog(dialog, 0);
        });
        return TRUE;
    }
    return FALSE;
}

sim::ui::LineOptions progress_controls() {
    sim::ui::LineOptions options;
    options.roles = {{IDC_STATUS_LINE, sim::ui::ControlRole::status},
                     {IDC_IMAGE_LINE, sim::ui::ControlRole::image_line},
                     {IDC_PROGRESS_RECORD, sim::ui::ControlRole::record_bar},
                     {IDC_PROGRESS_IMAGE, sim::ui::ControlRole::image_bar}};
    return options;
}

TEST_F(LineDialogs, ProgressIsPrintedInSteps) {
    const std::vector<ProgressStep> table = {
        {PBM_SETRANGE32, 0, 100, "progress record: 0%"},
        {PBM_SETPOS, 5, 0, nullptr},
        {PBM_SETPOS, 9, 0, nullptr},
        {PBM_SETPOS, 10, 0, "progress record: 10%"},
        {PBM_SETPOS, 19, 0, nullptr},
        {PBM_SETPOS, 25, 0, "progress record: 25%"},
        {PBM_SETPOS, 34, 0, nullptr},
        {PBM_SETPOS, 35, 0, "progress record: 35%"},
        {PBM_SETPOS, 99, 0, "progress record: 99%"},
        {PBM_SETPOS, 100, 0, "progress record: 100%"},
        {PBM_SETPOS, 100, 0, nullptr},
        {PBM_SETRANGE32, 0, 1, nullptr},  // the old position, kept inside the new range, is about to be set
        {PBM_SETPOS, 0, 0, "progress record: 0%"},
        {PBM_SETRANGE32, 0, 2048, "progress record: 0%"},
        {PBM_SETPOS, 1500, 0, "progress record: 73%"},
        {PBM_SETPOS, 2047, 0, "progress record: 99%"},
        {PBM_SETPOS, 4096, 0, "progress record: 100%"},
    };
    steps = &table;
    start("", progress_controls());
    EXPECT_EQ(DialogBoxIndirectParamW(ui_test::program_instance(), ui_test::program_template(IDD_PROGRESS_DIALOG),
                                      nullptr, ProgressStepsProc, 0),
              0);
    progress_thread.join();
    std::vector<std::string> expected = {"[Updating IMAGE] opened"};
    for (const ProgressStep& step : table)
        if (step.printed) expected.push_back(std::string("[Updating IMAGE] ") + step.printed);
    expected.push_back("[Updating IMAGE] image: Image: 00080000  Len: 00001000(4096)");
    expected.push_back("[Updating IMAGE] closed: 0");
    EXPECT_EQ(lines(), expected);
}

// What each level of detail prints of one short update; on a terminal the
// bars become one line drawn over itself.
BOOL CALLBACK ShortUpdateProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        progress_thread = std::thread([dialog] {
            SetDlgItemTextW(dialog, IDC_IMAGE_LINE, u"Image: 00080000  Len: 00000800(2048)");
            SetDlgItemTextW(dialog, IDC_STATUS_LINE, u"Erasing Flash Sector at 00080000");
            HWND record = GetDlgItem(dialog, IDC_PROGRESS_RECORD), image = GetDlgItem(dialog, IDC_PROGRESS_IMAGE);
            SendMessageW(record, PBM_SETRANGE32, 0, 2);
            SendMessageW(record, PBM_SETPOS, 1, 0);
            SendMessageW(image, PBM_SETRANGE32, 0, 2);
            SetDlgItemTextW(dialog, IDC_STATUS_LINE, u"Section: 00080000  Len: 00000800(2048)");
            SendMessageW(image, PBM_SETPOS, 2, 0);
            MessageBoxW(dialog, u"Error writing to Flash!", u"ERROR", MB_OK);
            EndDialog(dialog, 0);
        });
        return TRUE;
    }
    return FALSE;
}

TEST_F(LineDialogs, DetailDecidesWhatIsPrinted) {
    using Detail = sim::ui::LineOptions::Detail;
    const std::vector<std::string> box = {"[ERROR] Error writing to Flash!", "[ERROR] buttons: OK (default)",
                                          "[ERROR] answer: OK"};
    struct Case {
        const char* name;
        Detail detail;
        bool terminal;
        std::vector<std::string> lines;  // BOX: the message box's three lines
    };
    const Case cases[] = {
        {"quiet", Detail::quiet, false, {"BOX"}},
        {"normal",
         Detail::normal,
         false,
         {"[Updating IMAGE] opened", "[Updating IMAGE] image: Image: 00080000  Len: 00000800(2048)",
          "[Updating IMAGE] progress record: 0%", "[Updating IMAGE] progress record: 50%",
          "[Updating IMAGE] progress image: 0%", "[Updating IMAGE] progress image: 100%", "BOX",
          "[Updating IMAGE] closed: 0"}},
        {"verbose",
         Detail::verbose,
         false,
         {"[Updating IMAGE] opened", "[Updating IMAGE] image: Image: 00080000  Len: 00000800(2048)",
          "[Updating IMAGE] status: Erasing Flash Sector at 00080000", "[Updating IMAGE] progress record: 0%",
          "[Updating IMAGE] progress record: 50%", "[Updating IMAGE] progress image: 0%",
          "[Updating IMAGE] status: Section: 00080000  Len: 00000800(2048)", "[Updating IMAGE] progress image: 100%",
          "BOX", "[Updating IMAGE] closed: 0"}},
        {"terminal",
         Detail::normal,
         true,
         {"[Updating IMAGE] opened", "[Updating IMAGE] image: Image: 00080000  Len: 00000800(2048)",
          "\rerasing                      0 B of 2.0 KiB     0%\x1b[K"
          "\rerasing                  1.0 KiB of 2.0 KiB    50%\x1b[K"
          "\rwriting                      0 B of 2.0 KiB     0%\x1b[K"
          "\rwriting                  2.0 KiB of 2.0 KiB   100%\x1b[K",
          "BOX", "[Updating IMAGE] closed: 0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        output.str("");
        sim::ui::LineOptions options = progress_controls();
        options.detail = c.detail;
        options.progress_line = c.terminal;
        start("", options);
        DialogBoxIndirectParamW(ui_test::program_instance(), ui_test::program_template(IDD_PROGRESS_DIALOG), nullptr,
                                ShortUpdateProc, 0);
        progress_thread.join();
        std::vector<std::string> expected;
        for (const std::string& line : c.lines) {
            if (line == "BOX")
                expected.insert(expected.end(), box.begin(), box.end());
            else
                expected.push_back(line);
        }
        // The rate needs time to pass; a draw this quick may or may not show it.
        std::vector<std::string> got = lines();
        for (std::string& line : got) line = std::regex_replace(line, std::regex("  [0-9.]+ [KMG]?i?B/s[^\x1b]*"), "");
        EXPECT_EQ(got, expected);
    }
}

// The progress dialog has no visible button: it reads no input, so the next
// message box still gets the line.
BOOL CALLBACK QuickProgressProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        progress_thread = std::thread([dialog] {
            SetDlgItemTextW(dialog, IDC_STATUS_LINE, u"Section: 00000000");
            EndDialog(dialog, 0);
        });
        return TRUE;
    }
    return FALSE;
}

TEST_F(LineDialogs, DialogWithoutVisibleButtonsLeavesInputAlone) {
    start("cancel\n");
    DialogBoxIndirectParamW(ui_test::program_instance(), ui_test::program_template(IDD_PROGRESS_DIALOG), nullptr,
                            QuickProgressProc, 0);
    progress_thread.join();
    EXPECT_EQ(MessageBoxW(nullptr, u"Go on?", u"Q", MB_OKCANCEL), IDCANCEL);
}

TEST_F(LineDialogs, CaptionChangesAreShownUnderTheOldCaption) {
    static std::thread renamer;
    start("");
    auto proc = [](HWND dialog, UINT message, WPARAM, LPARAM) -> BOOL {
        if (message == WM_INITDIALOG) {
            renamer = std::thread([dialog] {
                SetWindowTextW(dialog, u"Renamed");
                SetDlgItemTextW(dialog, IDCANCEL, u"hidden text is not printed");
                EndDialog(dialog, 1);
            });
        }
        return FALSE;
    };
    DialogBoxIndirectParamW(ui_test::program_instance(), ui_test::program_template(IDD_PROGRESS_DIALOG), nullptr, proc,
                            0);
    renamer.join();
    EXPECT_EQ(lines(), (std::vector<std::string>{"[Updating IMAGE] opened", "[Updating IMAGE] caption: Renamed",
                                                 "[Renamed] closed: 1"}));
}

// The terminal front-end only for the main dialog at a terminal, or when
// asked for; the line protocol wherever a script may be reading.
TEST(FrontEndChoice, TerminalOnlyForTheMainDialogAtATerminalOrWhenAsked) {
    using sim::ui::FrontEndKind;
    struct Case {
        const char* name;
        bool main_dialog, at_terminal, built;
        std::optional<FrontEndKind> kind;  // nothing: refused with a reason
    };
    const FrontEndKind line = FrontEndKind::line, terminal = FrontEndKind::terminal;
    // clang-format off
    const Case cases[] = {
        {"auto",     true,  true,  true,  terminal},
        {"auto",     false, true,  true,  line},      // a command-line job
        {"auto",     true,  false, true,  line},      // stdin or stdout is no terminal
        {"auto",     true,  true,  false, line},      // a build without it
        {"line",     true,  true,  true,  line},
        {"terminal", false, true,  true,  terminal},
        {"terminal", true,  false, true,  std::nullopt},
        {"terminal", true,  true,  false, std::nullopt},
        {"curses",   true,  true,  true,  std::nullopt},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.main_dialog ? " main dialog" : " job") +
                     (c.at_terminal ? " at a terminal" : "") + (c.built ? "" : " not built"));
        std::string error;
        std::optional<FrontEndKind> kind =
            sim::ui::choose_front_end(c.name, c.main_dialog, c.at_terminal, c.built, &error);
        EXPECT_EQ(kind, c.kind);
        EXPECT_EQ(error.empty(), c.kind.has_value()) << error;
    }
}

}  // namespace
