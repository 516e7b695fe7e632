// What the host program (updatetool, tests) learns from the module while the
// system runs: message boxes and their answers, window texts, the worker's
// result, a reboot. Each hook is optional; the module calls the ones set.
#pragma once
#include <functional>
#include <string>

namespace sim {

struct ModuleObserver {
    // A message box was answered (answer is the button id: IDOK, IDCANCEL, IDYES, IDNO ...).
    std::function<void(const std::u16string& caption, const std::u16string& text, unsigned flags, int answer)>
        message_box;
    // A window's text was set (dialog caption or a control's text).
    std::function<void(int control_id, const std::u16string& text)> window_text;
    // A thread was started with CreateThread (called before it runs).
    std::function<void()> thread_start;
    // A thread started with CreateThread returned this exit code.
    std::function<void(unsigned long exit_code)> thread_exit;
    // The HAL was asked to reboot. When set, the host ends the process here (as
    // the module restarts); when it returns, the HAL's reboot request returns.
    std::function<void(bool cold)> reboot;
    // The registry was saved (RegFlushKey) or cleared (the HAL's request):
    // whether it worked.
    std::function<void(bool ok)> registry_result;
    // A dialog was ended with this result (template caption as loaded).
    std::function<void(const std::u16string& caption, long result)> dialog_ended;
    // The module lost its power (text: the operation it cut). When set, the
    // host ends the process here; else the module ends it.
    std::function<void(const std::string& text)> power_cut;
    // A wait for a named mutex that another process holds has lasted a
    // second (holder: its pid, 0 when it is not known); told once a wait.
    std::function<void(const std::u16string& name, long holder)> waiting_for_mutex;
};

ModuleObserver& observer();

// UTF-8 <-> UTF-16 for host text.
std::u16string utf16(const std::string& text);
std::string utf8(const std::u16string& text);

}  // namespace sim
