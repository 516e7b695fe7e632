// A front-end for tests: button presses, message-box answers and file names
// come from lists given beforehand, and every event is recorded, unthrottled,
// so a test can drive the program's dialogs deterministically and check what
// the user would have seen.
//
// A dialog with visible buttons takes the next press; with none left it gets
// IDCANCEL once, as at the end of input. A message box takes the next answer,
// else its default button. The file dialog takes the next file; with none
// left it is cancelled.
#pragma once
#include <deque>
#include <mutex>
#include <set>

#include "module/ui/front_end.h"

namespace sim::ui {

struct UiEvent {
    enum class Kind { dialog_opened, dialog_closed, text, progress, message_box, open_file, refused, note };
    Kind kind = Kind::note;
    std::u16string dialog;  // caption of the dialog (or message box, or file dialog)
    int control_id = 0;     // text: 0 for a caption; progress: the bar
    std::u16string text;    // text, message-box text, chosen file, button list ...
    long low = 0, high = 0, position = 0;
    bool new_range = false;
    UINT type = 0;    // message-box flags
    long result = 0;  // dialog result, message-box answer; open_file: 1 chosen, 0 cancelled

    // One line in the line front-end's manner ("[RESET] answer: Yes").
    std::string describe() const;
};

class ScriptedFrontEnd : public FrontEnd {
public:
    // A button by its text or id; message-box answers by label or id.
    void press(const std::string& button);
    void press(int id) { press(std::to_string(id)); }
    void answer(const std::string& word);
    void answer(int id) { answer(std::to_string(id)); }
    void choose_file(const std::u16string& path);

    std::vector<UiEvent> events() const;
    std::vector<std::string> lines() const;  // describe() of each event
    // Events of one kind, in order.
    std::vector<UiEvent> events(UiEvent::Kind kind) const;

    void dialog_opened(const DialogView& dialog) override;
    void dialog_closed(const DialogView& dialog, INT_PTR result) override;
    void text_changed(const DialogView& dialog, const TextChange& change) override;
    void progress_changed(const DialogView& dialog, const ControlView& bar, bool new_range) override;
    bool poll_input(const DialogView& dialog) override;
    int message_box(const MessageBoxView& box, const std::optional<std::string>& preset) override;
    std::optional<std::u16string> open_file(const OpenFileView& request, const PathCheck& check) override;
    void note(const std::string& text) override;

private:
    void record(UiEvent event);

    mutable std::mutex mutex_;
    std::deque<std::string> presses_;
    std::deque<std::string> answers_;
    std::deque<std::u16string> files_;
    std::set<HWND> cancelled_;
    std::vector<UiEvent> events_;
};

}  // namespace sim::ui
