// Window classes the dialog manager can create: the predefined controls, and
// the progress bar once InitCommonControls has registered it.
#pragma once
#include <string>

namespace sim::ui {

bool window_class_registered(const std::u16string& name);
// Only the predefined classes, as in a new process.
void forget_window_classes();

}  // namespace sim::ui
