#include "module/ui/line_front_end.h"

#include <ostream>

#include "module/observer.h"
#include "module/ui/dialog_input.h"
#include "module/ui/ui_config.h"

namespace sim::ui {
namespace {

// A bar is printed again when it has moved by this many points.
constexpr int kProgressStep = 10;

std::string join_buttons(const std::vector<std::u16string>& labels) {
    std::string joined;
    for (const std::u16string& label : labels) {
        if (!joined.empty()) joined += " | ";
        joined += utf8(label);
    }
    return joined;
}

}  // namespace

int progress_percent(const ControlView& bar) {
    long long span = static_cast<long long>(bar.high) - bar.low;
    if (span <= 0) return 0;
    long long done = static_cast<long long>(bar.position) - bar.low;
    return static_cast<int>(done * 100 / span);
}

std::shared_ptr<FrontEnd> make_line_front_end(std::istream& in, std::ostream& out) {
    return std::make_shared<LineFrontEnd>(in, out);
}

LineFrontEnd::LineFrontEnd(std::istream& in, std::ostream& out) : input_(in), out_(out) {}

void LineFrontEnd::say(const std::u16string& caption, const std::u16string& text) { say(caption, utf8(text)); }

void LineFrontEnd::say(const std::u16string& caption, const std::string& text) {
    std::string prefix = "[" + utf8(caption) + "] ";
    std::lock_guard<std::mutex> lock(out_mutex_);
    size_t start = 0;
    for (;;) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out_ << prefix << line << '\n';
        if (end == std::string::npos) break;
        start = end + 1;
    }
    out_.flush();
}

void LineFrontEnd::note(const std::string& text) { say(u"ui", text); }

void LineFrontEnd::dialog_opened(const DialogView& dialog) {
    std::vector<std::u16string> labels;
    for (const ControlView* button : dialog.visible_buttons()) labels.push_back(button->text);
    if (labels.empty())
        say(dialog.caption, std::string("opened"));
    else
        say(dialog.caption, "buttons: " + join_buttons(labels));
}

void LineFrontEnd::dialog_closed(const DialogView& dialog, INT_PTR result) {
    {
        std::lock_guard<std::mutex> lock(state_mutex_);
        input_ended_.erase(dialog.handle);
        for (const ControlView& control : dialog.controls) shown_percent_.erase(control.handle);
    }
    say(dialog.caption, "closed: " + std::to_string(result));
}

void LineFrontEnd::text_changed(const DialogView& dialog, const TextChange& change) {
    if (!dialog.shown || !change.visible) return;
    if (change.caption)
        say(change.previous, u"caption: " + change.text);
    else
        say(dialog.caption, change.text);
}

void LineFrontEnd::progress_changed(const DialogView& dialog, const ControlView& bar, bool new_range) {
    if (!dialog.shown || !bar.visible()) return;
    int percent = progress_percent(bar);
    {
        std::lock_guard<std::mutex> lock(state_mutex_);
        auto last = shown_percent_.find(bar.handle);
        bool print = new_range || last == shown_percent_.end() || (percent == 100 && last->second != 100) ||
                     percent - last->second >= kProgressStep || last->second - percent >= kProgressStep;
        if (!print) return;
        shown_percent_[bar.handle] = percent;
    }
    say(dialog.caption, "progress " + std::to_string(bar.id) + ": " + std::to_string(percent) + "%");
}

void LineFrontEnd::handle_line(const DialogView& dialog, const std::string& line) {
    std::string word = trim(line);
    if (word.empty()) return;
    for (const ControlView* button : dialog.visible_buttons()) {
        if (equal_ignoring_case(word, utf8(button->text)) || word == std::to_string(button->id)) {
            deliver_command(dialog.handle, button->id);
            return;
        }
    }
    say(dialog.caption, "no such button: " + word);
}

bool LineFrontEnd::poll_input(const DialogView& dialog) {
    {
        std::lock_guard<std::mutex> lock(state_mutex_);
        if (input_ended_.count(dialog.handle)) return false;
    }
    std::string line;
    HWND handle = dialog.handle;
    switch (input_.try_read(&line, [handle] { wake_dialog(handle); })) {
        case LineInput::Poll::line: handle_line(dialog, line); return true;
        case LineInput::Poll::ended: {
            // The end of input closes the dialog, as its close box would.
            {
                std::lock_guard<std::mutex> lock(state_mutex_);
                input_ended_.insert(dialog.handle);
            }
            deliver_command(dialog.handle, IDCANCEL);
            return true;
        }
        case LineInput::Poll::pending:
        default: return false;
    }
}

int LineFrontEnd::message_box(const MessageBoxView& box, const std::optional<std::string>& preset) {
    say(box.caption, box.text);
    std::vector<std::u16string> labels;
    for (int id : box.buttons) labels.push_back(button_label(id) + (id == box.default_button ? u" (default)" : u""));
    say(box.caption, "buttons: " + join_buttons(labels));

    int answer = box.default_button;
    std::optional<std::string> word = preset;
    if (!word) word = input_.read();
    // The end of input, or an empty line (Enter), takes the default button.
    if (word && !trim(*word).empty()) {
        std::optional<int> chosen = match_button(box.buttons, *word);
        if (chosen)
            answer = *chosen;
        else
            say(box.caption,
                "warning: \"" + trim(*word) + "\" is not a button here; taking " + utf8(button_label(answer)));
    }
    say(box.caption, "answer: " + utf8(button_label(answer)));
    return answer;
}

std::optional<std::u16string> LineFrontEnd::open_file(const OpenFileView& request, const PathCheck& check) {
    std::u16string filters;
    for (const auto& [description, pattern] : request.filters) {
        if (!filters.empty()) filters += u" | ";
        filters += description + u" (" + pattern + u")";
    }
    say(request.title, u"filter: " + filters);
    say(request.title, u"directory: " + request.initial_dir);
    for (;;) {
        std::optional<std::string> line = input_.read();
        std::string path = line ? trim(*line) : std::string();
        if (path.empty()) {
            say(request.title, std::string("cancelled"));
            return std::nullopt;
        }
        std::u16string chosen = utf16(path);
        std::string refusal = check(chosen);
        if (refusal.empty()) {
            say(request.title, "file: " + path);
            return chosen;
        }
        say(request.title, refusal);
    }
}

}  // namespace sim::ui
