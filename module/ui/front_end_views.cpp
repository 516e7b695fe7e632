// Helpers the front-ends share: control kinds, button names and matching a
// user's word to a button.
#include <cctype>

#include "module/observer.h"
#include "module/ui/front_end.h"
#include "platform/commctrl.h"

namespace sim::ui {

bool equal_ignoring_case(const std::string& left, const std::string& right) {
    if (left.size() != right.size()) return false;
    for (size_t i = 0; i < left.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(left[i])) != std::tolower(static_cast<unsigned char>(right[i])))
            return false;
    return true;
}

std::string trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return "";
    size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

bool ControlView::is_button() const { return equal_ignoring_case(utf8(class_name), "Button"); }

bool ControlView::is_progress_bar() const { return equal_ignoring_case(utf8(class_name), utf8(PROGRESS_CLASSW)); }

std::vector<const ControlView*> DialogView::visible_buttons() const {
    std::vector<const ControlView*> buttons;
    for (const ControlView& control : controls)
        if (control.is_button() && control.visible()) buttons.push_back(&control);
    return buttons;
}

const ControlView* DialogView::control(int id) const {
    for (const ControlView& control : controls)
        if (control.id == id) return &control;
    return nullptr;
}

std::u16string button_label(int id) {
    switch (id) {
        case IDOK: return u"OK";
        case IDCANCEL: return u"Cancel";
        case IDABORT: return u"Abort";
        case IDRETRY: return u"Retry";
        case IDIGNORE: return u"Ignore";
        case IDYES: return u"Yes";
        case IDNO: return u"No";
        default: return u"Button " + utf16(std::to_string(id));
    }
}

std::optional<int> match_button(const std::vector<int>& buttons, const std::string& word) {
    std::string wanted = trim(word);
    for (int id : buttons) {
        if (equal_ignoring_case(wanted, utf8(button_label(id))) || wanted == std::to_string(id)) return id;
    }
    return std::nullopt;
}

}  // namespace sim::ui
