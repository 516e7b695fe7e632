// Runs the program's main routine on the current module with a scripted user
// and records what the user and the board would see.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/scripted_front_end.h"

namespace app_tests {

struct SeenReboot {
    bool cold;
    uint32_t tick_ms;  // the module's GetTickCount when the HAL was asked
};

class AppHarness {
public:
    AppHarness();
    ~AppHarness();

    // WinMain with this command-line text; returns its result.
    int run(const std::string& command_line);
    // Waits until an update worker that was started has returned.
    void wait_for_worker();

    sim::ui::ScriptedFrontEnd& ui() { return *ui_; }
    // Message boxes as "caption: text".
    std::vector<std::string> boxes() const;
    std::vector<SeenReboot> reboots() const;
    std::vector<bool> registry_results() const;
    // Template captions of the dialogs that ended, shown or not.
    std::vector<std::string> dialogs_ended() const;
    size_t file_dialogs() const;
    int workers_ended() const;

private:
    std::shared_ptr<sim::ui::ScriptedFrontEnd> ui_;
    mutable std::mutex mutex_;
    std::vector<SeenReboot> reboots_;
    std::vector<bool> registry_results_;
    std::vector<std::string> dialogs_ended_;
    int workers_ended_ = 0;
};

void reset_program_state();
// The module's event log (events.log), one entry per line, without time stamps.
std::vector<std::string> module_events();

}  // namespace app_tests
