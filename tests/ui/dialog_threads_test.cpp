// Modal dialogs driven from a worker thread, as the update drives the
// progress dialog: texts and progress set from the worker are carried out on
// the dialog's thread in order, the worker ends the dialog, and scripted
// escapes arrive before the worker goes on.
#include <atomic>
#include <thread>

#include "res/resource_ids.h"
#include "ui_test_support.h"

namespace {

using sim::ui::UiEvent;

void progress_worker(HWND dialog);

struct WorkerRun {
    void (*body)(HWND dialog) = progress_worker;
    std::thread worker;
    std::atomic<int> abort_requested{0};
    std::thread::id dialog_thread;
    std::thread::id worker_thread;
    std::vector<std::u16string> texts;  // what the worker sets, in order
    std::vector<int> abort_seen_after;  // abort flag right after each text
    std::vector<std::thread::id> text_threads;
    std::vector<std::thread::id> cancel_threads;
    BOOL end_result = FALSE;
    BOOL text_after_end = TRUE;
    LRESULT send_after_end = 1;
    LRESULT position_read_back = -1;
    WCHAR read_back[64] = {};
};

WorkerRun* run = nullptr;

void progress_worker(HWND dialog) {
    run->worker_thread = std::this_thread::get_id();
    HWND record_bar = GetDlgItem(dialog, IDC_PROGRESS_RECORD);
    SendMessageW(record_bar, PBM_SETRANGE32, 0, 40);
    for (size_t i = 0; i < run->texts.size(); ++i) {
        SetDlgItemTextW(dialog, IDC_STATUS_LINE, reinterpret_cast<LPCWSTR>(run->texts[i].c_str()));
        run->abort_seen_after.push_back(run->abort_requested.load());
        SendMessageW(record_bar, PBM_SETPOS, (i + 1) * 10, 0);
    }
    // The calls are done when they return: read them back.
    run->position_read_back = SendMessageW(record_bar, PBM_GETPOS, 0, 0);
    SendMessageW(GetDlgItem(dialog, IDC_STATUS_LINE), WM_GETTEXT, 64, reinterpret_cast<LPARAM>(run->read_back));
    run->end_result = EndDialog(dialog, 7);
    // The dialog is gone: nothing waits for it any more.
    run->text_after_end = SetDlgItemTextW(dialog, IDC_STATUS_LINE, u"late");
    run->send_after_end = SendMessageW(record_bar, PBM_SETPOS, 1, 0);
}

BOOL CALLBACK ProgressProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        run->dialog_thread = std::this_thread::get_id();
        run->worker = std::thread(run->body, dialog);
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        run->abort_requested = 1;
        run->cancel_threads.push_back(std::this_thread::get_id());
        return TRUE;
    }
    return message == WM_COMMAND;
}

class DialogThreads : public ui_test::ScriptedUi {
protected:
    void SetUp() override {
        ScriptedUi::SetUp();
        run = state.get();
        sim::observer().window_text = [this](int, const std::u16string&) {
            state->text_threads.push_back(std::this_thread::get_id());
        };
    }
    void TearDown() override {
        if (state->worker.joinable()) state->worker.join();
        run = nullptr;
        ScriptedUi::TearDown();
    }
    INT_PTR run_progress_dialog() {
        INT_PTR result = DialogBoxIndirectParamW(
            ui_test::program_instance(), ui_test::program_template(IDD_PROGRESS_DIALOG), nullptr, ProgressProc, 0);
        state->worker.join();
        return result;
    }
    std::unique_ptr<WorkerRun> state = std::make_unique<WorkerRun>();
};

TEST_F(DialogThreads, WorkerTextsArriveInOrderOnTheDialogThread) {
    state->texts = {u"Image: 00080000", u"Erasing Flash Sector at 00080000", u"Section: 00080000",
                    u"Section: 00084000"};
    EXPECT_EQ(run_progress_dialog(), 7);
    EXPECT_TRUE(state->end_result);
    EXPECT_FALSE(state->text_after_end);
    EXPECT_EQ(state->send_after_end, 0);
    EXPECT_EQ(state->position_read_back, 40);
    EXPECT_EQ(std::u16string(state->read_back), u"Section: 00084000");

    std::vector<std::u16string> shown;
    for (const UiEvent& event : screen->events(UiEvent::Kind::text)) {
        EXPECT_EQ(event.control_id, IDC_STATUS_LINE);
        shown.push_back(event.text);
    }
    EXPECT_EQ(shown, state->texts);
    for (std::thread::id id : state->text_threads) EXPECT_EQ(id, state->dialog_thread);
    EXPECT_NE(state->dialog_thread, state->worker_thread);

    // Progress: a range, then one position per text, all in order.
    std::vector<long> positions;
    for (const UiEvent& event : screen->events(UiEvent::Kind::progress)) positions.push_back(event.position);
    EXPECT_EQ(positions, (std::vector<long>{0, 10, 20, 30, 40}));

    std::vector<UiEvent> closed = screen->events(UiEvent::Kind::dialog_closed);
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0].result, 7);
    EXPECT_EQ(screen->events().front().kind, UiEvent::Kind::dialog_opened);
}

// Progress is reported without the worker waiting, but a message box from
// the worker still comes after every position it set.
void progress_then_message_box(HWND dialog) {
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS_RECORD);
    SendMessageW(bar, PBM_SETRANGE32, 0, 100);
    for (int position = 1; position <= 100; ++position) SendMessageW(bar, PBM_SETPOS, position, 0);
    MessageBoxW(dialog, u"Error writing to Flash!", u"ERROR", MB_OK);
    EndDialog(dialog, 7);
}

TEST_F(DialogThreads, AMessageBoxFromTheWorkerComesAfterItsProgress) {
    state->body = progress_then_message_box;
    EXPECT_EQ(run_progress_dialog(), 7);
    std::vector<long> positions;
    for (const UiEvent& event : screen->events()) {
        if (event.kind == UiEvent::Kind::progress) positions.push_back(event.position);
        if (event.kind == UiEvent::Kind::message_box) break;
    }
    ASSERT_EQ(positions.size(), 101u) << "the range and every position before the box";
    EXPECT_EQ(positions.back(), 100);
}

// Which text the scripted Escape follows decides the first text after which
// the worker sees the abort flag.
TEST_F(DialogThreads, EscapeOnTextArrivesBeforeTheWorkerGoesOn) {
    struct Case {
        std::vector<std::u16string> prefixes;
        std::vector<int> seen;  // abort flag after each of the four texts
    } cases[] = {
        {{}, {0, 0, 0, 0}},
        {{u"Section:"}, {0, 0, 1, 1}},
        {{u"Image:"}, {1, 1, 1, 1}},
        {{u"Erasing Flash Sector at 00000000"}, {0, 0, 0, 0}},
        {{u"Erasing Flash Sector at 00080000"}, {0, 1, 1, 1}},
        {{u"Section: 00084000", u"Nothing"}, {0, 0, 0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prefixes.empty() ? std::string("no escape") : sim::utf8(c.prefixes[0]));
        state = std::make_unique<WorkerRun>();
        run = state.get();
        state->texts = {u"Image: 00080000", u"Erasing Flash Sector at 00080000", u"Section: 00080000",
                        u"Section: 00084000"};
        sim::ui::clear_escape_on_text();
        for (const auto& prefix : c.prefixes) sim::ui::add_escape_on_text(prefix);
        EXPECT_EQ(run_progress_dialog(), 7);
        EXPECT_EQ(state->abort_seen_after, c.seen);
        for (std::thread::id id : state->cancel_threads) EXPECT_EQ(id, state->dialog_thread);
    }
}

// The main dialog's button opens the progress dialog on top of it; both run
// their loops on the same thread, the worker ends the inner one.
struct NestedRun {
    std::vector<int> commands;
    INT_PTR inner_result = -2;
    HWND owner_seen = nullptr;
};
NestedRun* nested = nullptr;

BOOL CALLBACK NestedMainProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        SetWindowTextW(dialog, u"Update Tool 2.7");
        return TRUE;
    }
    if (message != WM_COMMAND) return FALSE;
    nested->commands.push_back(LOWORD(wParam));
    if (LOWORD(wParam) == IDC_UPDATE_IMAGE) {
        nested->owner_seen = dialog;
        nested->inner_result = DialogBoxIndirectParamW(
            ui_test::program_instance(), ui_test::program_template(IDD_PROGRESS_DIALOG), dialog, ProgressProc, 0);
        run->worker.join();
    }
    if (LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 0);
    return TRUE;
}

TEST_F(DialogThreads, ProgressDialogNestsInsideTheMainDialog) {
    NestedRun record;
    nested = &record;
    state->texts = {u"Section: 00000000"};
    screen->press("Update Bootloader/Image");
    screen->press("bsp version");
    INT_PTR result = DialogBoxIndirectParamW(ui_test::program_instance(), ui_test::program_template(IDD_MAIN_DIALOG),
                                             nullptr, NestedMainProc, 0);
    nested = nullptr;
    EXPECT_EQ(result, 0);
    EXPECT_EQ(record.inner_result, 7);
    EXPECT_EQ(record.commands, (std::vector<int>{IDC_UPDATE_IMAGE, IDC_BSP_VERSION, IDCANCEL}));

    std::vector<std::string> order;
    for (const UiEvent& event : screen->events())
        if (event.kind == UiEvent::Kind::dialog_opened || event.kind == UiEvent::Kind::dialog_closed)
            order.push_back(event.describe());
    EXPECT_EQ(order, (std::vector<std::string>{
                         "[Update Tool 2.7] opened buttons: Save Registry to Flash | Clear Registry on Flash | Update "
                         "Bootloader/Image | BSP Version | Coldboot | Warmboot",
                         "[Updating IMAGE] opened",
                         "[Updating IMAGE] closed: 7",
                         "[Update Tool 2.7] closed: 0",
                     }));
}

// Commands sent from another thread reach the dialog routine on its thread.
struct SendRun {
    std::thread sender;
    std::vector<std::pair<int, std::thread::id>> commands;
};
SendRun* sends = nullptr;

BOOL CALLBACK SendTargetProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        sends->sender = std::thread([dialog] {
            SendMessageW(dialog, WM_COMMAND, MAKELONG(1004, 0), 0);
            // A command sent to a control goes to its dialog.
            SendMessageW(GetDlgItem(dialog, IDC_IMAGE_LINE), WM_COMMAND, MAKELONG(1005, 0), 0);
            SendMessageW(dialog, WM_CLOSE, 0, 0);
        });
        return TRUE;
    }
    if (message == WM_COMMAND) {
        sends->commands.emplace_back(LOWORD(wParam), std::this_thread::get_id());
        if (LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 3);
        return TRUE;
    }
    return FALSE;
}

TEST_F(DialogThreads, SentCommandsRunOnTheDialogThread) {
    SendRun record;
    sends = &record;
    INT_PTR result = DialogBoxIndirectParamW(
        ui_test::program_instance(), ui_test::program_template(IDD_PROGRESS_DIALOG), nullptr, SendTargetProc, 0);
    record.sender.join();
    sends = nullptr;
    EXPECT_EQ(result, 3);
    ASSERT_EQ(record.commands.size(), 3u);
    EXPECT_EQ(record.commands[0].first, 1004);
    EXPECT_EQ(record.commands[1].first, 1005);
    EXPECT_EQ(record.commands[2].first, IDCANCEL) << "WM_CLOSE becomes IDCANCEL";
    for (const auto& command : record.commands) EXPECT_EQ(command.second, std::this_thread::get_id());
}

// A dialog ended while it initialises is never shown, but still reported.
BOOL CALLBACK EndAtOnceProc(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_INITDIALOG) EndDialog(dialog, lParam);
    return FALSE;
}

TEST_F(DialogThreads, DialogEndedDuringInitIsNotShown) {
    std::vector<std::pair<std::u16string, long>> ended;
    sim::observer().dialog_ended = [&](const std::u16string& caption, long result) {
        ended.emplace_back(caption, result);
    };
    EXPECT_EQ(DialogBoxIndirectParamW(ui_test::program_instance(), ui_test::program_template(IDD_PROGRESS_DIALOG),
                                      nullptr, EndAtOnceProc, 42),
              42);
    EXPECT_TRUE(screen->events(UiEvent::Kind::dialog_opened).empty());
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].first, u"Updating IMAGE");
    EXPECT_EQ(ended[0].second, 42);
}

TEST_F(DialogThreads, StaleAndForeignHandlesAreRefused) {
    int not_a_window = 0;
    HWND bogus = reinterpret_cast<HWND>(&not_a_window);
    EXPECT_FALSE(EndDialog(bogus, 1));
    EXPECT_FALSE(EndDialog(nullptr, 1));
    EXPECT_EQ(GetDlgItem(bogus, 1002), nullptr);
    EXPECT_FALSE(SetWindowTextW(bogus, u"x"));
    EXPECT_EQ(SendMessageW(bogus, WM_SETTEXT, 0, 0), 0);
    // An owner that names no window refuses the dialog.
    EXPECT_EQ(DialogBoxIndirectParamW(ui_test::program_instance(), ui_test::program_template(IDD_MAIN_DIALOG), bogus,
                                      EndAtOnceProc, 0),
              -1);
}

}  // namespace
