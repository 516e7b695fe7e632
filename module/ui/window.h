// The dialog manager's windows: a dialog and the controls its template
// creates. An HWND is the address of its Window. Windows are never freed
// while the process runs, so a stale handle is recognised (alive is false)
// instead of reaching reused memory.
//
// Threading: a window's own data (text, ended, result) is changed only on
// its dialog's thread; the registry, the thread queues, the alive/ended flags
// that other threads read and the progress values are guarded by ui_mutex().
// A progress bar's message is carried out at once on the sender's thread;
// the dialog's thread reports the change (report_on_dialog_thread).
#pragma once
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "module/ui/front_end.h"
#include "platform/windows.h"

namespace sim::ui {

struct Window {
    Window* dialog = nullptr;  // the dialog a control belongs to; itself for a dialog
    bool is_dialog = false;
    std::thread::id thread;  // the thread running the dialog's modal loop
    bool alive = false;
    bool ended = false;
    bool shown = false;
    bool wake = false;
    INT_PTR result = 0;
    DLGPROC proc = nullptr;
    HWND owner = nullptr;

    int id = 0;
    std::u16string class_name;
    std::u16string text;
    std::u16string template_caption;
    DWORD style = 0;
    DWORD extended_style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::vector<Window*> controls;

    // Progress bar state, as msctls_progress32 keeps it. Changed under
    // ui_mutex(); read without it where a moment's lag does not matter.
    std::atomic<long> low{0}, high{100}, position{0}, step{10};

    HWND handle() { return reinterpret_cast<HWND>(this); }
};

std::mutex& ui_mutex();
std::condition_variable& ui_signal();

// A new window, owned by the registry.
Window* create_window();
// Every window goes, as with the process that made them; no dialog may run.
void forget_all_windows();
// The live window behind a handle, or null (lock held by the caller).
Window* window_from_handle_locked(HWND handle);
Window* window_from_handle(HWND handle);

// Runs work on the thread of window's dialog and waits for it, as Win32's
// cross-thread SendMessage does. On that thread itself it runs at once.
// False when the dialog is gone or ending: the work did not run.
bool run_on_dialog_thread(Window* window, const std::function<void()>& work);
// Queues work for the dialog's thread without waiting.
bool post_to_dialog_thread(Window* dialog, std::function<void()> work);
// True when work queued for the dialog's thread will be run or refused by
// a modal loop there (ui_mutex held).
bool takes_work_locked(Window* dialog);
// Queues a report for the dialog's thread without waiting (ui_mutex held).
// Reports wake the thread at most once per few milliseconds; it takes them
// in order with everything else queued. False when the dialog is gone or
// ending: the report is dropped.
bool post_report_locked(Window* dialog, std::function<void()> report);
// Waits until the reports this thread posted have been made, so that what
// it shows next comes after them.
void deliver_reports_first();

// The modal loop's side of the thread queues.
void enter_modal_loop(Window* dialog);
// Runs the dialog's loop until it ends.
void run_modal_loop(Window* dialog);
void leave_modal_loop(Window* dialog);

// Snapshots for the front-ends.
DialogView dialog_view(Window* dialog);
ControlView control_view(Window* control);

// Calls the dialog routine (no-op when there is none).
INT_PTR call_dialog_proc(Window* dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Sets a window's text on its dialog's thread: reports it to the observer and
// the front-end, then delivers an escape when the text asks for one.
void set_text_on_dialog_thread(Window* window, const std::u16string& text);

}  // namespace sim::ui
