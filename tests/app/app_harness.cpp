#include "tests/app/app_harness.h"

#include <condition_variable>
#include <fstream>

#include "app/win_main.h"
#include "flash/flash_ops.h"
#include "module/module.h"
#include "module/observer.h"
#include "module/ui/ui_config.h"
#include "res/resources.h"
#include "shell/shell_state.h"
#include "tests/support/test_module.h"
#include "update/update.h"

namespace app_tests {

namespace {
std::mutex worker_mutex;
std::condition_variable worker_seen;
}  // namespace

void reset_program_state() {
    ProgramInstance = nullptr;
    QuietMode = 0;
    ImagePath[0] = 0;
    MainWindow = nullptr;
    AbortRequested = 0;
    testing_support::reset_flash_state();
}

AppHarness::AppHarness() : ui_(std::make_shared<sim::ui::ScriptedFrontEnd>()) {
    reset_program_state();
    sim::ui::reset_ui_config();
    sim::ui::set_front_end(ui_);
    sim::ModuleObserver& o = sim::observer();
    o.reboot = [this](bool cold) {
        std::lock_guard<std::mutex> lock(mutex_);
        reboots_.push_back({cold, sim::Module::current()->clock().tick_count_ms()});
    };
    o.registry_result = [this](bool ok) {
        std::lock_guard<std::mutex> lock(mutex_);
        registry_results_.push_back(ok);
    };
    o.dialog_ended = [this](const std::u16string& caption, long) {
        std::lock_guard<std::mutex> lock(mutex_);
        dialogs_ended_.push_back(sim::utf8(caption));
    };
    o.thread_exit = [this](unsigned long) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++workers_ended_;
        }
        std::lock_guard<std::mutex> lock(worker_mutex);
        worker_seen.notify_all();
    };
}

AppHarness::~AppHarness() {
    sim::observer() = sim::ModuleObserver{};
    sim::ui::reset_ui_config();
    sim::ui::set_front_end(nullptr);
    reset_program_state();
}

int AppHarness::run(const std::string& command_line) {
    std::u16string text = sim::utf16(command_line);
    return WinMain(reinterpret_cast<HINSTANCE>(const_cast<RESOURCE_ENTRY*>(ProgramResources)), nullptr,
                   reinterpret_cast<LPWSTR>(text.data()), 1);
}

void AppHarness::wait_for_worker() {
    std::unique_lock<std::mutex> lock(worker_mutex);
    worker_seen.wait(lock, [this] { return workers_ended() > 0; });
}

std::vector<std::string> AppHarness::boxes() const {
    std::vector<std::string> out;
    for (const sim::ui::UiEvent& e : ui_->events(sim::ui::UiEvent::Kind::message_box))
        out.push_back(sim::utf8(e.dialog) + ": " + sim::utf8(e.text));
    return out;
}

std::vector<SeenReboot> AppHarness::reboots() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reboots_;
}

std::vector<bool> AppHarness::registry_results() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return registry_results_;
}

std::vector<std::string> AppHarness::dialogs_ended() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dialogs_ended_;
}

size_t AppHarness::file_dialogs() const { return ui_->events(sim::ui::UiEvent::Kind::open_file).size(); }

int AppHarness::workers_ended() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return workers_ended_;
}

std::vector<std::string> module_events() {
    std::vector<std::string> out;
    std::ifstream log(sim::Module::current()->dir() / "events.log");
    std::string line;
    while (std::getline(log, line)) {
        size_t space = line.find(' ');
        out.push_back(space == std::string::npos ? line : line.substr(space + 1));
    }
    return out;
}

}  // namespace app_tests
