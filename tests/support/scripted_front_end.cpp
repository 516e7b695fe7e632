#include "tests/support/scripted_front_end.h"

#include "module/observer.h"
#include "module/ui/dialog_input.h"

namespace sim::ui {

std::string UiEvent::describe() const {
    std::string prefix = "[" + utf8(dialog) + "] ";
    switch (kind) {
        case Kind::dialog_opened: return prefix + "opened" + (text.empty() ? "" : " buttons: " + utf8(text));
        case Kind::dialog_closed: return prefix + "closed: " + std::to_string(result);
        case Kind::text:
            return prefix + (control_id == 0 ? "caption: " : std::to_string(control_id) + ": ") + utf8(text);
        case Kind::progress:
            return prefix + "progress " + std::to_string(control_id) + ": " + std::to_string(position) + " of " +
                   std::to_string(low) + ".." + std::to_string(high) + (new_range ? " (new range)" : "");
        case Kind::message_box: return prefix + utf8(text) + " -> " + utf8(button_label(static_cast<int>(result)));
        case Kind::open_file: return prefix + (result ? "file: " + utf8(text) : std::string("cancelled"));
        case Kind::refused: return prefix + "refused: " + utf8(text);
        case Kind::note: return "[ui] " + utf8(text);
    }
    return prefix;
}

void ScriptedFrontEnd::press(const std::string& button) {
    std::lock_guard<std::mutex> lock(mutex_);
    presses_.push_back(button);
}

void ScriptedFrontEnd::answer(const std::string& word) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_.push_back(word);
}

void ScriptedFrontEnd::choose_file(const std::u16string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    files_.push_back(path);
}

std::vector<UiEvent> ScriptedFrontEnd::events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

std::vector<UiEvent> ScriptedFrontEnd::events(UiEvent::Kind kind) const {
    std::vector<UiEvent> selected;
    for (const UiEvent& event : events())
        if (event.kind == kind) selected.push_back(event);
    return selected;
}

std::vector<std::string> ScriptedFrontEnd::lines() const {
    std::vector<std::string> out;
    for (const UiEvent& event : events()) out.push_back(event.describe());
    return out;
}

void ScriptedFrontEnd::record(UiEvent event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(event));
}

void ScriptedFrontEnd::dialog_opened(const DialogView& dialog) {
    UiEvent event;
    event.kind = UiEvent::Kind::dialog_opened;
    event.dialog = dialog.caption;
    for (const ControlView* button : dialog.visible_buttons()) {
        if (!event.text.empty()) event.text += u" | ";
        event.text += button->text;
    }
    record(event);
}

void ScriptedFrontEnd::dialog_closed(const DialogView& dialog, INT_PTR result) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cancelled_.erase(dialog.handle);
    }
    UiEvent event;
    event.kind = UiEvent::Kind::dialog_closed;
    event.dialog = dialog.caption;
    event.result = static_cast<long>(result);
    record(event);
}

void ScriptedFrontEnd::text_changed(const DialogView& dialog, const TextChange& change) {
    UiEvent event;
    event.kind = UiEvent::Kind::text;
    event.dialog = change.caption ? change.previous : dialog.caption;
    event.control_id = change.control_id;
    event.text = change.text;
    record(event);
}

void ScriptedFrontEnd::progress_changed(const DialogView& dialog, const ControlView& bar, bool new_range) {
    UiEvent event;
    event.kind = UiEvent::Kind::progress;
    event.dialog = dialog.caption;
    event.control_id = bar.id;
    event.low = bar.low;
    event.high = bar.high;
    event.position = bar.position;
    event.new_range = new_range;
    record(event);
}

bool ScriptedFrontEnd::poll_input(const DialogView& dialog) {
    std::string word;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (presses_.empty()) {
            // Out of presses: the dialog is closed once, as at the end of input.
            if (!cancelled_.insert(dialog.handle).second) return false;
            word = std::to_string(IDCANCEL);
        } else {
            word = presses_.front();
            presses_.pop_front();
        }
    }
    if (word == std::to_string(IDCANCEL)) {
        deliver_command(dialog.handle, IDCANCEL);
        return true;
    }
    for (const ControlView* button : dialog.visible_buttons()) {
        if (equal_ignoring_case(trim(word), utf8(button->text)) || trim(word) == std::to_string(button->id)) {
            deliver_command(dialog.handle, button->id);
            return true;
        }
    }
    UiEvent event;
    event.kind = UiEvent::Kind::refused;
    event.dialog = dialog.caption;
    event.text = utf16("no such button: " + word);
    record(event);
    return true;
}

int ScriptedFrontEnd::message_box(const MessageBoxView& box, const std::optional<std::string>& preset) {
    std::optional<std::string> word = preset;
    if (!word) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!answers_.empty()) {
            word = answers_.front();
            answers_.pop_front();
        }
    }
    int answer = box.default_button;
    if (word) {
        std::optional<int> chosen = match_button(box.buttons, *word);
        if (chosen)
            answer = *chosen;
        else {
            UiEvent refused;
            refused.kind = UiEvent::Kind::refused;
            refused.dialog = box.caption;
            refused.text = utf16("not a button here: " + *word);
            record(refused);
        }
    }
    UiEvent event;
    event.kind = UiEvent::Kind::message_box;
    event.dialog = box.caption;
    event.text = box.text;
    event.type = box.type;
    event.result = answer;
    record(event);
    return answer;
}

std::optional<std::u16string> ScriptedFrontEnd::open_file(const OpenFileView& request, const PathCheck& check) {
    for (;;) {
        std::u16string path;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (files_.empty()) break;
            path = files_.front();
            files_.pop_front();
        }
        std::string refusal = check(path);
        UiEvent event;
        event.kind = refusal.empty() ? UiEvent::Kind::open_file : UiEvent::Kind::refused;
        event.dialog = request.title;
        event.text = refusal.empty() ? path : utf16(refusal);
        event.result = refusal.empty() ? 1 : 0;
        record(event);
        if (refusal.empty()) return path;
    }
    UiEvent event;
    event.kind = UiEvent::Kind::open_file;
    event.dialog = request.title;
    event.result = 0;
    record(event);
    return std::nullopt;
}

void ScriptedFrontEnd::note(const std::string& text) {
    UiEvent event;
    event.kind = UiEvent::Kind::note;
    event.text = utf16(text);
    record(event);
}

}  // namespace sim::ui
