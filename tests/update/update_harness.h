// Runs updates the way the program does, on the current module, and records
// what a user would see: message boxes, window texts, the worker's result,
// reboots. Resets the program's process-wide state before and after.
#pragma once
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/scripted_front_end.h"
#include "tests/support/test_module.h"

namespace update_tests {

struct BarChange {
    long high;
    long position;
    bool new_range;
};

struct SeenBox {
    std::string caption;
    std::string text;
    unsigned flags;
    int answer;
};

class UpdateHarness {
public:
    UpdateHarness();
    ~UpdateHarness();

    // Writes the image to a file of the harness's own and runs the update
    // command's path: ImagePath set, the progress dialog without owner.
    void run(const std::vector<uint8_t>& image, bool quiet = true);
    void run_path(const std::u16string& path, bool quiet = true);
    // Message-box answers, one per box in order ("yes", "no", "ok", "cancel").
    void answer(const std::vector<std::string>& words);
    // Abort (IDCANCEL) as soon as a control shows a text starting so.
    void abort_on_text(const std::string& prefix);

    sim::ui::ScriptedFrontEnd& ui() { return *ui_; }
    std::vector<SeenBox> boxes() const;
    std::vector<BarChange> bar_changes(int bar_id) const;
    std::vector<std::string> texts_of(int control_id) const;
    long worker_result() const;  // -1 when no worker ran
    int reboots() const;
    std::filesystem::path image_path() const { return dir_.path() / "image.bin"; }

private:
    testing_support::TempDir dir_;
    std::shared_ptr<sim::ui::ScriptedFrontEnd> ui_;
    mutable std::mutex mutex_;
    std::vector<SeenBox> boxes_;
    std::vector<std::pair<int, std::string>> texts_;
    long worker_result_ = -1;
    int reboots_ = 0;
};

// The program's state back to how a fresh process starts.
void reset_program_state();

// The messages of the update.
extern const char kBadChecksum[];

}  // namespace update_tests
