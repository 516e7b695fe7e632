// The line front-end: every event is one line on the output, flushed at once
// (dialogs opening with their buttons, window texts, progress in steps of
// 10%, message boxes with their answers, the file-open dialog). Button
// presses, message-box answers and file names are read from the input, one
// line each. Used when stdout is not a terminal, and by scripts and tests.
//
// On a terminal the progress is instead one line drawn over itself: phase,
// bytes done of total, percent, rate and time left; other lines are written
// above it. Controls are named by what they are (the host says which is
// which), never by their ids.
#pragma once
#include <chrono>
#include <functional>
#include <iosfwd>
#include <map>
#include <mutex>
#include <set>

#include "module/ui/front_end.h"
#include "module/ui/line_input.h"

namespace sim::ui {

// What a control of the program's progress dialog shows.
enum class ControlRole {
    status,      // "status": the erase position, then the current record
    image_line,  // "image": the image's place and length
    record_bar,  // "record": the erase, then the current record
    image_bar,   // "image": the whole image
};

struct LineOptions {
    // quiet: message boxes only; normal: also dialogs, the image line,
    // progress; verbose: also every status text.
    enum class Detail { quiet, normal, verbose };
    Detail detail = Detail::normal;
    // The output is a terminal: progress as one line drawn over itself.
    bool progress_line = false;
    // The input is a terminal: a word that is no button of a message box or
    // a dialog is asked for again. Elsewhere refuse is called with the box or
    // dialog (its caption and text) and why (and must not return; without it
    // the process ends with status 2).
    bool ask_again = false;
    std::function<void(const std::u16string& caption, const std::u16string& text, const std::string& why)> refuse;
    // The program's controls by id (buttons are named by their texts).
    std::map<int, ControlRole> roles;
    // Where aside() writes; null: the output.
    std::ostream* aside = nullptr;
};

class LineFrontEnd : public FrontEnd {
public:
    LineFrontEnd(std::istream& in, std::ostream& out);

    void configure(LineOptions options);
    // A line of the host's beside the dialogs (a note on the flash, say); a
    // progress line drawn stays below it.
    void aside(const std::string& line);
    // Progress no window shows (the NAND boot area written back and read
    // back, the host's own verify): it moves the progress line on a terminal.
    void phase_progress(const std::string& phase, uint64_t done, uint64_t total);
    // Ends a progress line drawn, keeping its last state.
    void end_progress_line();

    void dialog_opened(const DialogView& dialog) override;
    void dialog_closed(const DialogView& dialog, INT_PTR result) override;
    void text_changed(const DialogView& dialog, const TextChange& change) override;
    void progress_changed(const DialogView& dialog, const ControlView& bar, bool new_range) override;
    bool poll_input(const DialogView& dialog) override;
    int message_box(const MessageBoxView& box, const std::optional<std::string>& preset) override;
    std::optional<std::u16string> open_file(const OpenFileView& request, const PathCheck& check) override;
    void note(const std::string& text) override;

private:
    // Writes "[caption] text", one line per line of text.
    void say(const std::u16string& caption, const std::u16string& text);
    void say(const std::u16string& caption, const std::string& text);
    void handle_line(const DialogView& dialog, const std::string& line);
    // Off a terminal a word that names no button ends the run: never returns.
    [[noreturn]] void refuse(const std::u16string& caption, const std::u16string& text, const std::string& why);
    bool shows(LineOptions::Detail least) const { return options_.detail >= least; }
    std::string control_name(const DialogView& dialog, const ControlView& control) const;
    // The progress line (callers hold out_mutex_).
    void move_progress(int rank, const std::string& phase, uint64_t done, uint64_t total);
    void draw_progress(bool always);
    void clear_progress();

    LineInput input_;
    std::ostream& out_;
    LineOptions options_;
    std::mutex out_mutex_;
    std::mutex state_mutex_;
    std::map<HWND, int> shown_percent_;  // per progress bar, the last percentage printed
    std::set<HWND> input_ended_;         // dialogs already sent IDCANCEL for the end of input

    // The progress line: phases run erasing, writing, staging the boot area,
    // verifying; a report of an earlier phase arriving late is ignored.
    int phase_rank_ = 0;
    std::string phase_;
    uint64_t done_ = 0, total_ = 0;
    std::chrono::steady_clock::time_point phase_start_;
    bool image_bar_ranged_ = false;
    bool drawn_ = false;
    int drawn_percent_ = -1;
};

// The percentage a bar shows: its position within its range, 0 for an empty range.
int progress_percent(const ControlView& bar);

}  // namespace sim::ui
