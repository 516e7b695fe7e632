#include "tests/update/update_harness.h"

#include <condition_variable>
#include <cstring>

#include <gtest/gtest.h>

#include "flash/flash_ops.h"
#include "module/observer.h"
#include "module/ui/ui_config.h"
#include "platform/commctrl.h"
#include "res/resources.h"
#include "shell/shell_state.h"
#include "tests/support/test_module.h"
#include "update/section_map.h"
#include "update/update.h"
#include "update/update_progress.h"

namespace update_tests {

const char kBadChecksum[] = "BAD CRC, Image File seems to be corrupt. Don't reboot Now! Try updating with another file";

namespace {

// The worker's end, which comes after its dialog has ended.
std::mutex exit_mutex;
std::condition_variable exit_seen;
bool worker_exited = false;
bool dialog_ended = false;

const FlashSection kDefaultSectionMap[kSectionCount] = {
    {u"Bootloader", 0, 0x40000, 3, 0},
    {u"ConfigBlock", 0x40000, 0x40000, 3, 0},
    {u"IMAGE", 0x80000, 0x1400000, 3, 0},
    {u"Registry", 0x1400000, 0x80000, 0, 0},
    {u"FileSystem", 0x14800000, 0x0B800000, 0, 0},
};

}  // namespace

void reset_program_state() {
    ProgramInstance = reinterpret_cast<HINSTANCE>(const_cast<RESOURCE_ENTRY*>(ProgramResources));
    QuietMode = 0;
    ImagePath[0] = 0;
    MainWindow = nullptr;
    AbortRequested = 0;
    BootAreaStaged = FALSE;
    ProgressDialogWindow = nullptr;
    TranslatedImageStart = 0;
    std::memcpy(SectionMap, kDefaultSectionMap, sizeof SectionMap);
    testing_support::reset_flash_state();
}

UpdateHarness::UpdateHarness() {
    reset_program_state();
    sim::ui::reset_ui_config();
    ui_ = std::make_shared<sim::ui::ScriptedFrontEnd>();
    sim::ui::set_front_end(ui_);
    // As the program's start does: the progress bars' window class.
    InitCommonControls();
    sim::ModuleObserver& o = sim::observer();
    o.dialog_ended = [](const std::u16string&, long) {
        std::lock_guard<std::mutex> lock(exit_mutex);
        dialog_ended = true;
    };
    o.message_box = [this](const std::u16string& caption, const std::u16string& text, unsigned flags, int answer) {
        std::lock_guard<std::mutex> lock(mutex_);
        boxes_.push_back({sim::utf8(caption), sim::utf8(text), flags, answer});
    };
    o.window_text = [this](int id, const std::u16string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        texts_.push_back({id, sim::utf8(text)});
    };
    o.thread_exit = [this](unsigned long code) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            worker_result_ = static_cast<long>(code);
        }
        std::lock_guard<std::mutex> lock(exit_mutex);
        worker_exited = true;
        exit_seen.notify_all();
    };
    // The module restarts: here the HAL's request simply returns.
    o.reboot = [this](bool cold) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (cold) ++reboots_;
    };
}

UpdateHarness::~UpdateHarness() {
    sim::observer() = sim::ModuleObserver{};
    sim::ui::reset_ui_config();
    sim::ui::set_front_end(nullptr);
    reset_program_state();
}

void UpdateHarness::answer(const std::vector<std::string>& words) {
    for (const std::string& word : words) ui_->answer(word);
}

void UpdateHarness::abort_on_text(const std::string& prefix) { sim::ui::add_escape_on_text(sim::utf16(prefix)); }

void UpdateHarness::run(const std::vector<uint8_t>& image, bool quiet) {
    testing_support::write_binary(image_path(), image);
    run_path(sim::utf16(image_path().string()), quiet);
}

void UpdateHarness::run_path(const std::u16string& path, bool quiet) {
    {
        std::lock_guard<std::mutex> lock(exit_mutex);
        worker_exited = false;
        dialog_ended = false;
    }
    size_t n = std::min(path.size(), size_t(IMAGE_PATH_CHARS - 1));
    std::memcpy(ImagePath, path.data(), n * sizeof(WCHAR));
    ImagePath[n] = 0;
    QuietMode = quiet ? 1 : 0;
    OpenProgressDialog(nullptr);
    // A preset path always starts the worker; it ends just after its dialog.
    std::unique_lock<std::mutex> lock(exit_mutex);
    if (!dialog_ended) {
        ADD_FAILURE() << "the progress dialog did not run";
        return;
    }
    exit_seen.wait(lock, [] { return worker_exited; });
}

std::vector<SeenBox> UpdateHarness::boxes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
}

std::vector<std::string> UpdateHarness::texts_of(int control_id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (const auto& [id, text] : texts_)
        if (id == control_id) out.push_back(text);
    return out;
}

std::vector<BarChange> UpdateHarness::bar_changes(int bar_id) const {
    std::vector<BarChange> out;
    for (const sim::ui::UiEvent& e : ui_->events(sim::ui::UiEvent::Kind::progress))
        if (e.control_id == bar_id) out.push_back({e.high, e.position, e.new_range});
    return out;
}

long UpdateHarness::worker_result() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return worker_result_;
}

int UpdateHarness::reboots() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reboots_;
}

}  // namespace update_tests
