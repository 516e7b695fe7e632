#include <atomic>

#include "module/observer.h"
#include "module/ui/front_end.h"
#include "module/ui/window_classes.h"
#include "platform/commctrl.h"

namespace sim::ui {
namespace {

std::atomic<bool> progress_class_registered{false};

bool same_class(const std::u16string& left, const char16_t* right) {
    return equal_ignoring_case(sim::utf8(left), sim::utf8(right));
}

}  // namespace

bool window_class_registered(const std::u16string& name) {
    static const char16_t* const predefined[] = {u"Button", u"Edit", u"Static", u"ListBox", u"ScrollBar", u"ComboBox"};
    for (const char16_t* known : predefined)
        if (same_class(name, known)) return true;
    return progress_class_registered && same_class(name, PROGRESS_CLASSW);
}

void forget_window_classes() { progress_class_registered = false; }

}  // namespace sim::ui

void InitCommonControls(void) { sim::ui::progress_class_registered = true; }
