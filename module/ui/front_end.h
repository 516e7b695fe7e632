// What a front-end sees of the dialog manager: snapshots of dialogs and
// controls, message boxes and the file-open dialog, and the one way back in:
// user actions delivered to a dialog (dialog_input.h). The line front-end,
// the terminal front-end and the scripted test front-end implement it.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/windows.h"

namespace sim::ui {

struct ControlView {
    HWND handle = nullptr;
    int id = 0;
    std::u16string class_name;
    std::u16string text;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    long low = 0, high = 0, position = 0;  // progress bars

    bool visible() const { return (style & WS_VISIBLE) != 0; }
    bool is_button() const;
    bool is_progress_bar() const;
};

struct DialogView {
    HWND handle = nullptr;
    std::u16string caption;           // as it is now
    std::u16string template_caption;  // as the template gave it
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    bool shown = false;                 // dialog_opened has been reported
    std::vector<ControlView> controls;  // template order, which is tab order

    std::vector<const ControlView*> visible_buttons() const;
    const ControlView* control(int id) const;
};

struct TextChange {
    int control_id = 0;  // 0 for the dialog's caption
    bool caption = false;
    bool visible = true;  // the window showing the text is visible
    std::u16string previous;
    std::u16string text;
};

struct MessageBoxView {
    std::u16string caption;
    std::u16string text;
    UINT type = 0;
    std::vector<int> buttons;  // ids, in the order the box shows them
    int default_button = 0;    // one of buttons
};

struct OpenFileView {
    std::u16string title;
    std::vector<std::pair<std::u16string, std::u16string>> filters;  // description, pattern
    DWORD filter_index = 0;                                          // 1-based, 0 for none
    std::u16string initial_dir;
    DWORD max_chars = 0;  // room in the caller's buffer, terminator included
    DWORD flags = 0;
};

// Says why a chosen path cannot be taken, or returns an empty text.
using PathCheck = std::function<std::string(const std::u16string& path)>;

class FrontEnd {
public:
    virtual ~FrontEnd() = default;

    // On the dialog's thread, in the order they happen.
    virtual void dialog_opened(const DialogView& dialog) = 0;
    virtual void dialog_closed(const DialogView& dialog, INT_PTR result) = 0;
    virtual void text_changed(const DialogView& dialog, const TextChange& change) = 0;
    virtual void progress_changed(const DialogView& dialog, const ControlView& bar, bool new_range) = 0;

    // On the dialog's thread, when a shown dialog with visible buttons is idle.
    // Carry out at most one user action (deliver_command) and return true, or
    // return false and call wake_dialog once something may have arrived.
    virtual bool poll_input(const DialogView& dialog) = 0;

    // On the calling thread. preset is the host's next scripted answer word,
    // if any; the result is one of box.buttons.
    virtual int message_box(const MessageBoxView& box, const std::optional<std::string>& preset) = 0;

    // On the calling thread: the chosen path, or nothing when the user cancels.
    // A path that check refuses is reported and the user asked again.
    virtual std::optional<std::u16string> open_file(const OpenFileView& request, const PathCheck& check) = 0;

    // Something the user should know that is no window's text (a refused
    // template, for instance).
    virtual void note(const std::string& text) = 0;

    // Any thread, before the program ends (also at a reboot or an interrupt):
    // gives the terminal back. Later calls get default answers; a message box
    // already waiting stays unanswered, as the program is about to end.
    virtual void end() {}
};

// Button names as message boxes show them ("Yes", "Cancel" ...).
std::u16string button_label(int id);
// Finds the button a user's word names: its label (any case) or its id in
// decimal. Surrounding blanks are ignored.
std::optional<int> match_button(const std::vector<int>& buttons, const std::string& word);
// Trims blanks and a trailing carriage return.
std::string trim(const std::string& text);
bool equal_ignoring_case(const std::string& left, const std::string& right);

}  // namespace sim::ui
