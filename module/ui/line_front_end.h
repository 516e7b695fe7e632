// The line front-end: every event is one line on the output, flushed at once
// (dialogs opening with their buttons, window texts, progress in steps of
// 10%, message boxes with their answers, the file-open dialog). Button
// presses, message-box answers and file names are read from the input, one
// line each. Used when stdout is not a terminal, and by scripts and tests.
#pragma once
#include <iosfwd>
#include <map>
#include <mutex>
#include <set>

#include "module/ui/front_end.h"
#include "module/ui/line_input.h"

namespace sim::ui {

class LineFrontEnd : public FrontEnd {
public:
    LineFrontEnd(std::istream& in, std::ostream& out);

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

    LineInput input_;
    std::ostream& out_;
    std::mutex out_mutex_;
    std::mutex state_mutex_;
    std::map<HWND, int> shown_percent_;  // per progress bar, the last percentage printed
    std::set<HWND> input_ended_;         // dialogs already sent IDCANCEL for the end of input
};

// The percentage a bar shows: its position within its range, 0 for an empty range.
int progress_percent(const ControlView& bar);

}  // namespace sim::ui
