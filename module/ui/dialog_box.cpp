// Modal dialogs from templates: DialogBoxIndirectParamW creates the dialog and
// its controls, delivers WM_INITDIALOG and runs the modal loop on the calling
// thread until EndDialog; GetDlgItem finds controls by id.
#include "module/observer.h"
#include "module/ui/dialog_template.h"
#include "module/ui/ui_config.h"
#include "module/ui/window.h"
#include "module/ui/window_classes.h"

namespace sim::ui {
namespace {

Window* create_dialog(const DialogTemplateInfo& info, HWND owner, DLGPROC proc) {
    Window* dialog = create_window();
    dialog->dialog = dialog;
    dialog->is_dialog = true;
    dialog->proc = proc;
    dialog->owner = owner;
    dialog->class_name = info.class_name;
    dialog->text = info.caption;
    dialog->template_caption = info.caption;
    dialog->style = info.style;
    dialog->extended_style = info.extended_style;
    dialog->x = info.x;
    dialog->y = info.y;
    dialog->cx = info.cx;
    dialog->cy = info.cy;
    for (const TemplateItem& item : info.items) {
        Window* control = create_window();
        control->dialog = dialog;
        control->id = item.id;
        control->class_name = item.class_name;
        control->text = item.title;
        control->style = item.style;
        control->extended_style = item.extended_style;
        control->x = item.x;
        control->y = item.y;
        control->cx = item.cx;
        control->cy = item.cy;
        dialog->controls.push_back(control);
    }
    return dialog;
}

// The control WM_INITDIALOG names as the one to get the focus: the first
// visible tab stop.
HWND first_tab_stop(Window* dialog) {
    for (Window* control : dialog->controls)
        if ((control->style & WS_VISIBLE) && (control->style & WS_TABSTOP)) return control->handle();
    return nullptr;
}

}  // namespace

INT_PTR call_dialog_proc(Window* dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (dialog->proc == nullptr) return 0;
    return dialog->proc(dialog->handle(), message, wParam, lParam);
}

ControlView control_view(Window* control) {
    ControlView view;
    view.handle = control->handle();
    view.id = control->id;
    view.class_name = control->class_name;
    view.text = control->text;
    view.style = control->style;
    view.x = control->x;
    view.y = control->y;
    view.cx = control->cx;
    view.cy = control->cy;
    view.low = control->low;
    view.high = control->high;
    view.position = control->position;
    return view;
}

DialogView dialog_view(Window* dialog) {
    DialogView view;
    view.handle = dialog->handle();
    view.caption = dialog->text;
    view.template_caption = dialog->template_caption;
    view.style = dialog->style;
    view.x = dialog->x;
    view.y = dialog->y;
    view.cx = dialog->cx;
    view.cy = dialog->cy;
    view.shown = dialog->shown;
    for (Window* control : dialog->controls) view.controls.push_back(control_view(control));
    return view;
}

}  // namespace sim::ui

using namespace sim::ui;

INT_PTR DialogBoxIndirectParamW(HINSTANCE, LPCDLGTEMPLATEW dialogTemplate, HWND owner, DLGPROC dialogProc,
                                LPARAM initParam) {
    deliver_reports_first();
    std::shared_ptr<FrontEnd> screen = front_end();
    DialogTemplateInfo info;
    std::string error;
    if (!parse_dialog_template(dialogTemplate, &info, &error)) {
        screen->note("dialog template refused: " + error);
        return -1;
    }
    for (const TemplateItem& item : info.items) {
        if (!window_class_registered(item.class_name)) {
            screen->note("dialog template refused: control class " + sim::utf8(item.class_name) + " is not registered");
            return -1;
        }
    }
    if (dialogProc == nullptr) return -1;
    // An owner may be none; one that names no window is refused as Win32 does.
    if (owner != nullptr && window_from_handle(owner) == nullptr) return -1;

    Window* dialog = create_dialog(info, owner, dialogProc);
    enter_modal_loop(dialog);
    call_dialog_proc(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first_tab_stop(dialog)), initParam);
    // A dialog ended while it initialised is never shown.
    if (!dialog->ended) {
        dialog->shown = true;
        screen->dialog_opened(dialog_view(dialog));
        run_modal_loop(dialog);
    }
    DialogView last = dialog_view(dialog);
    INT_PTR result = dialog->result;
    leave_modal_loop(dialog);
    if (last.shown) screen->dialog_closed(last, result);
    if (sim::observer().dialog_ended) sim::observer().dialog_ended(dialog->template_caption, static_cast<long>(result));
    return result;
}

BOOL EndDialog(HWND handle, INT_PTR result) {
    Window* window = window_from_handle(handle);
    if (window == nullptr || !window->is_dialog) return FALSE;
    return run_on_dialog_thread(window,
                                [window, result] {
                                    std::lock_guard<std::mutex> lock(ui_mutex());
                                    window->result = result;
                                    window->ended = true;
                                    ui_signal().notify_all();
                                })
               ? TRUE
               : FALSE;
}

HWND GetDlgItem(HWND handle, int id) {
    Window* dialog = window_from_handle(handle);
    if (dialog == nullptr || !dialog->is_dialog) return nullptr;
    for (Window* control : dialog->controls)
        if (control->id == id) return control->handle();
    return nullptr;
}
