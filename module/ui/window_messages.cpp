// Window texts and messages. Whatever thread calls, the work is carried out on
// the dialog's own thread while the caller waits, so texts and progress
// arrive in the order they were set.
#include <algorithm>
#include <cstring>

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

void report_progress(Window* bar, bool new_range) {
    Window* dialog = bar->dialog;
    front_end()->progress_changed(dialog_view(dialog), control_view(bar), new_range);
}

LRESULT pack_range(long low, long high) {
    return static_cast<LRESULT>(static_cast<DWORD>(MAKELONG(static_cast<WORD>(low), static_cast<WORD>(high))));
}

// msctls_progress32: a range, a position kept inside it, and a step.
LRESULT progress_message(Window* bar, UINT message, WPARAM wParam, LPARAM lParam) {
    long previous = bar->position;
    auto set_position = [bar](long value) {
        long low = std::min(bar->low, bar->high);
        long high = std::max(bar->low, bar->high);
        bar->position = std::clamp(value, low, high);
    };
    switch (message) {
        case PBM_SETRANGE:
        case PBM_SETRANGE32: {
            LRESULT old = pack_range(bar->low, bar->high);
            if (message == PBM_SETRANGE) {
                bar->low = LOWORD(lParam);
                bar->high = HIWORD(lParam);
            } else {
                bar->low = static_cast<long>(static_cast<int>(wParam));
                bar->high = static_cast<long>(static_cast<int>(lParam));
            }
            set_position(bar->position);
            report_progress(bar, true);
            return old;
        }
        case PBM_SETPOS: set_position(static_cast<long>(static_cast<int>(wParam))); break;
        case PBM_DELTAPOS: set_position(bar->position + static_cast<long>(static_cast<int>(wParam))); break;
        case PBM_SETSTEP: {
            long old = bar->step;
            bar->step = static_cast<long>(static_cast<int>(wParam));
            return old;
        }
        case PBM_STEPIT:
            // Past the end the bar starts over from the beginning.
            if (bar->position + bar->step > bar->high)
                set_position(bar->low);
            else
                set_position(bar->position + bar->step);
            break;
        case PBM_GETRANGE: return wParam ? bar->low : bar->high;
        case PBM_GETPOS: return bar->position;
        default: return 0;
    }
    if (bar->position != previous) report_progress(bar, false);
    return previous;
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
    ControlView view = control_view(control);
    if (view.is_progress_bar()) return progress_message(control, message, wParam, lParam);
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
    LRESULT result = 0;
    run_on_dialog_thread(window, [&] {
        result = window->is_dialog ? dialog_message(window, message, wParam, lParam)
                                   : control_message(window, message, wParam, lParam);
    });
    return result;
}
