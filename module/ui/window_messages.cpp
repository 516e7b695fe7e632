// Window texts and messages. Whatever thread calls, texts and other messages
// are carried out on the dialog's own thread while the caller waits. A
// progress bar's message is carried out at once under the UI lock and its
// change reported on the dialog's thread without the caller waiting, in the
// same queue: texts and progress still arrive in the order they were set.
#include <algorithm>
#include <cstring>
#include <thread>

#include "module/observer.h"
#include "module/ui/ui_config.h"
#include "module/ui/window.h"
#include "platform/commctrl.h"

namespace sim::ui {
namespace {

std::u16string text_of(LPCWSTR text) {
    if (text == nullptr) return u"";
    size_t length = 0;
    while (text[length] != 0) ++length;
    return std::u16string(text, length);
}

LRESULT copy_text_out(const std::u16string& text, WPARAM room, LPARAM buffer) {
    WCHAR* out = reinterpret_cast<WCHAR*>(buffer);
    if (out == nullptr || room == 0) return 0;
    size_t count = std::min<size_t>(text.size(), room - 1);
    std::memcpy(out, text.data(), count * sizeof(WCHAR));
    out[count] = 0;
    return static_cast<LRESULT>(count);
}

LRESULT pack_range(long low, long high) {
    return static_cast<LRESULT>(static_cast<DWORD>(MAKELONG(static_cast<WORD>(low), static_cast<WORD>(high))));
}

struct BarValues {
    long low, high, position, step;
};

// msctls_progress32: a range, a position kept inside it, and a step.
// *new_range is set when the message set the range.
LRESULT progress_message(BarValues& bar, UINT message, WPARAM wParam, LPARAM lParam, bool* new_range) {
    long previous = bar.position;
    auto set_position = [&bar](long value) {
        long low = std::min(bar.low, bar.high);
        long high = std::max(bar.low, bar.high);
        bar.position = std::clamp(value, low, high);
    };
    switch (message) {
        case PBM_SETRANGE:
        case PBM_SETRANGE32: {
            LRESULT old = pack_range(bar.low, bar.high);
            if (message == PBM_SETRANGE) {
                bar.low = LOWORD(lParam);
                bar.high = HIWORD(lParam);
            } else {
                bar.low = static_cast<long>(static_cast<int>(wParam));
                bar.high = static_cast<long>(static_cast<int>(lParam));
            }
            set_position(bar.position);
            *new_range = true;
            return old;
        }
        case PBM_SETPOS: set_position(static_cast<long>(static_cast<int>(wParam))); break;
        case PBM_DELTAPOS: set_position(bar.position + static_cast<long>(static_cast<int>(wParam))); break;
        case PBM_SETSTEP: {
            long old = bar.step;
            bar.step = static_cast<long>(static_cast<int>(wParam));
            return old;
        }
        case PBM_STEPIT:
            // Past the end the bar starts over from the beginning.
            if (bar.position + bar.step > bar.high)
                set_position(bar.low);
            else
                set_position(bar.position + bar.step);
            break;
        case PBM_GETRANGE: return wParam ? bar.low : bar.high;
        case PBM_GETPOS: return bar.position;
        default: return 0;
    }
    return previous;
}

void report_progress(Window* bar, const ControlView& view, bool new_range) {
    front_end()->progress_changed(dialog_view(bar->dialog), view, new_range);
}

// A progress bar's message from any thread. The change is reported on the
// dialog's thread: at once from there, queued from any other.
LRESULT send_to_progress_bar(Window* bar, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* dialog = bar->dialog;
    bool on_dialog_thread = dialog->thread == std::this_thread::get_id();
    LRESULT result;
    bool report = false, new_range = false;
    ControlView view;
    {
        std::lock_guard<std::mutex> lock(ui_mutex());
        // Sent to a dialog that is gone, or ending while another thread waits: not carried out.
        if (!dialog->alive || (!on_dialog_thread && !takes_work_locked(dialog))) return 0;
        BarValues values{bar->low, bar->high, bar->position, bar->step};
        result = progress_message(values, message, wParam, lParam, &new_range);
        report = new_range || values.position != bar->position;
        bar->low = values.low;
        bar->high = values.high;
        bar->position = values.position;
        bar->step = values.step;
        if (!report) return result;
        view = control_view(bar);
        if (!on_dialog_thread) {
            post_report_locked(dialog, [bar, view, new_range] { report_progress(bar, view, new_range); });
            return result;
        }
    }
    report_progress(bar, view, new_range);
    return result;
}

bool is_progress_bar(const Window* window) {
    // msctls_progress32, in any case.
    const char16_t* name = PROGRESS_CLASSW;
    const std::u16string& class_name = window->class_name;
    for (size_t i = 0; i < class_name.size(); ++i, ++name) {
        char16_t a = class_name[i], b = *name;
        if (b == 0) return false;
        if (a >= u'A' && a <= u'Z') a = static_cast<char16_t>(a - u'A' + u'a');
        if (b >= u'A' && b <= u'Z') b = static_cast<char16_t>(b - u'A' + u'a');
        if (a != b) return false;
    }
    return *name == 0;
}

LRESULT dialog_message(Window* dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    INT_PTR handled = call_dialog_proc(dialog, message, wParam, lParam);
    if (handled) return handled;
    // What the default dialog procedure does with what the routine left.
    switch (message) {
        case WM_SETTEXT: set_text_on_dialog_thread(dialog, text_of(reinterpret_cast<LPCWSTR>(lParam))); return TRUE;
        case WM_GETTEXT: return copy_text_out(dialog->text, wParam, lParam);
        case WM_CLOSE: call_dialog_proc(dialog, WM_COMMAND, MAKELONG(IDCANCEL, 0), 0); return 0;
        default: return 0;
    }
}

LRESULT control_message(Window* control, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SETTEXT: set_text_on_dialog_thread(control, text_of(reinterpret_cast<LPCWSTR>(lParam))); return TRUE;
        case WM_GETTEXT: return copy_text_out(control->text, wParam, lParam);
        case WM_COMMAND:
            // A control passes commands to the dialog it belongs to.
            return call_dialog_proc(control->dialog, message, wParam, lParam);
        default: break;
    }
    return 0;
}

}  // namespace

void set_text_on_dialog_thread(Window* window, const std::u16string& text) {
    Window* dialog = window->dialog;
    TextChange change;
    change.caption = window->is_dialog;
    change.control_id = window->is_dialog ? 0 : window->id;
    change.visible = window->is_dialog || (window->style & WS_VISIBLE) != 0;
    change.previous = window->text;
    change.text = text;
    window->text = text;
    if (observer().window_text) observer().window_text(change.control_id, text);
    front_end()->text_changed(dialog_view(dialog), change);
    // A scripted Escape arrives before the thread that set the text goes on.
    if (escape_on_text(text)) call_dialog_proc(dialog, WM_COMMAND, MAKELONG(IDCANCEL, 0), 0);
}

}  // namespace sim::ui

using namespace sim::ui;

BOOL SetWindowTextW(HWND handle, LPCWSTR text) {
    Window* window = window_from_handle(handle);
    if (window == nullptr) return FALSE;
    std::u16string value = text_of(text);
    return run_on_dialog_thread(window, [window, &value] { set_text_on_dialog_thread(window, value); }) ? TRUE : FALSE;
}

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
    HWND control = GetDlgItem(dialog, id);
    if (control == nullptr) return FALSE;
    return SetWindowTextW(control, text);
}

LRESULT SendMessageW(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* window = window_from_handle(handle);
    if (window == nullptr) return 0;
    if (!window->is_dialog && message != WM_SETTEXT && message != WM_GETTEXT && message != WM_COMMAND &&
        is_progress_bar(window))
        return send_to_progress_bar(window, message, wParam, lParam);
    LRESULT result = 0;
    run_on_dialog_thread(window, [&] {
        result = window->is_dialog ? dialog_message(window, message, wParam, lParam)
                                   : control_message(window, message, wParam, lParam);
    });
    return result;
}
