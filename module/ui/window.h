// The dialog manager's windows: a dialog and the controls its template
// creates. An HWND is the address of its Window. Windows are never freed
// while the process runs, so a stale handle is recognised (alive is false)
// instead of reaching reused memory.
//
// Threading: a window's own data (text, progress values, ended, result) is
// changed only on its dialog's thread; the registry, the thread queues and
// the alive/ended flags that other threads read are guarded by ui_mutex().
#pragma once
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

    // Progress bar state, as msctls_progress32 keeps it.
    long low = 0, high = 100, position = 0, step = 10;

    HWND handle() { return reinterpret_cast<HWND>(this); }
};

std::mutex& ui_mutex();
std::condition_variable& ui_signal();

// A new window, owned by the registry.
Window* create_window();
// The live window behind a handle, or null (lock held by the caller).
Window* window_from_handle_locked(HWND handle);
Window* window_from_handle(HWND handle);

// Runs work on the thread of window's dialog and waits for it, as Win32's
// cross-thread SendMessage does. On that thread itself it runs at once.
// False when the dialog is gone or ending: the work did not run.
bool run_on_dialog_thread(Window* window, const std::function<void()>& work);
// Queues work for the dialog's thread without waiting.
bool post_to_dialog_thread(Window* dialog, std::function<void()> work);

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
