// MessageBoxW: runs on the calling thread, whichever it is, with or without an
// owner. The answer comes from the host's scripted answers first, then from
// the front-end.
#include "module/observer.h"
#include "module/ui/front_end.h"
#include "module/ui/ui_config.h"
#include "module/ui/window.h"

namespace sim::ui {
namespace {

// The buttons of each MB_ type, in the order the box shows them.
std::vector<int> buttons_of_type(UINT type) {
    switch (type & MB_TYPEMASK) {
        case MB_OK: return {IDOK};
        case MB_OKCANCEL: return {IDOK, IDCANCEL};
        case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
        case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
        case MB_YESNO: return {IDYES, IDNO};
        case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
        default: return {};
    }
}

std::u16string text_of(LPCWSTR text, const char16_t* fallback) {
    if (text == nullptr) return fallback;
    size_t length = 0;
    while (text[length] != 0) ++length;
    return std::u16string(text, length);
}

}  // namespace
}  // namespace sim::ui

using namespace sim::ui;

int MessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT type) {
    // The box comes after the progress this thread has reported.
    deliver_reports_first();
    MessageBoxView box;
    box.caption = text_of(caption, u"Error");
    box.text = text_of(text, u"");
    box.type = type;
    box.buttons = buttons_of_type(type);
    std::shared_ptr<FrontEnd> screen = front_end();
    if (box.buttons.empty()) {
        screen->note("message box refused: unknown button type " + std::to_string(type & MB_TYPEMASK));
        return 0;
    }
    // MB_DEFBUTTON2 and 3 name the second and third button; a box without
    // that many buttons defaults to its first.
    size_t default_index = (type & MB_DEFMASK) >> 8;
    box.default_button = box.buttons[default_index < box.buttons.size() ? default_index : 0];
    int answer = screen->message_box(box, take_answer());
    if (sim::observer().message_box) sim::observer().message_box(box.caption, box.text, type, answer);
    return answer;
}
