#include "module/ui/line_front_end.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ostream>

#include "module/observer.h"
#include "module/ui/dialog_input.h"
#include "module/ui/line_progress.h"
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

void LineFrontEnd::configure(LineOptions options) {
    std::lock_guard<std::mutex> lock(out_mutex_);
    options_ = std::move(options);
}

void LineFrontEnd::say(const std::u16string& caption, const std::u16string& text) { say(caption, utf8(text)); }

void LineFrontEnd::say(const std::u16string& caption, const std::string& text) {
    std::string prefix = "[" + utf8(caption) + "] ";
    std::lock_guard<std::mutex> lock(out_mutex_);
    clear_progress();
    size_t start = 0;
    for (;;) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out_ << prefix << line << '\n';
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (drawn_) draw_progress(true);
    out_.flush();
}

void LineFrontEnd::note(const std::string& text) { say(u"ui", text); }

void LineFrontEnd::aside(const std::string& line) {
    std::lock_guard<std::mutex> lock(out_mutex_);
    std::ostream& to = options_.aside ? *options_.aside : out_;
    clear_progress();
    out_.flush();
    to << line << '\n';
    to.flush();
    if (drawn_) draw_progress(true);
}

// The progress line

namespace {

// The order of the phases of an update as the progress line shows them.
enum PhaseRank { kErasing = 1, kWriting = 2, kLaterPhase = 3 };

}  // namespace

void LineFrontEnd::phase_progress(const std::string& phase, uint64_t done, uint64_t total) {
    std::lock_guard<std::mutex> lock(out_mutex_);
    if (!options_.progress_line || !shows(LineOptions::Detail::normal)) return;
    move_progress(kLaterPhase, phase, done, total);
}

void LineFrontEnd::move_progress(int rank, const std::string& phase, uint64_t done, uint64_t total) {
    if (rank < phase_rank_) return;
    if (rank != phase_rank_ || phase != phase_ || done < done_) {
        phase_start_ = std::chrono::steady_clock::now();
        drawn_percent_ = -1;
    }
    phase_rank_ = rank;
    phase_ = phase;
    done_ = done;
    total_ = total;
    draw_progress(false);
}

void LineFrontEnd::draw_progress(bool always) {
    int percent = total_ ? static_cast<int>(std::min(done_, total_) * 100 / total_) : 100;
    // Drawn again as the percentage moves: at most about a hundred times a phase.
    if (!always && drawn_ && percent == drawn_percent_) return;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - phase_start_).count();
    out_ << '\r' << progress_line_text(phase_, done_, total_, seconds) << "\x1b[K";
    out_.flush();
    drawn_ = true;
    drawn_percent_ = percent;
}

void LineFrontEnd::clear_progress() {
    if (drawn_) out_ << "\r\x1b[K";
}

void LineFrontEnd::end_progress_line() {
    std::lock_guard<std::mutex> lock(out_mutex_);
    if (!drawn_) return;
    out_ << '\n';
    out_.flush();
    drawn_ = false;
    drawn_percent_ = -1;
}

// Dialogs

std::string LineFrontEnd::control_name(const DialogView& dialog, const ControlView& control) const {
    if (!control.is_button()) {
        auto role = options_.roles.find(control.id);
        if (role != options_.roles.end()) {
            switch (role->second) {
                case ControlRole::status: return "status";
                case ControlRole::image_line: return "image";
                case ControlRole::record_bar: return "record";
                case ControlRole::image_bar: return "image";
            }
        }
    }
    if (!control.is_progress_bar()) return "";
    int index = 0;
    for (const ControlView& other : dialog.controls) {
        if (other.is_progress_bar()) ++index;
        if (&other == &control || other.handle == control.handle) break;
    }
    return "bar " + std::to_string(index);
}

void LineFrontEnd::dialog_opened(const DialogView& dialog) {
    {
        std::lock_guard<std::mutex> lock(out_mutex_);
        for (const ControlView& control : dialog.controls) {
            auto role = options_.roles.find(control.id);
            if (control.is_progress_bar() && role != options_.roles.end()) {
                // A new progress dialog: its phases start over.
                phase_rank_ = 0;
                image_bar_ranged_ = false;
            }
        }
    }
    if (!shows(LineOptions::Detail::normal)) return;
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
    end_progress_line();
    if (shows(LineOptions::Detail::normal)) say(dialog.caption, "closed: " + std::to_string(result));
}

void LineFrontEnd::text_changed(const DialogView& dialog, const TextChange& change) {
    if (!dialog.shown || !change.visible) return;
    if (change.caption) {
        if (shows(LineOptions::Detail::normal)) say(change.previous, u"caption: " + change.text);
        return;
    }
    const ControlView* control = dialog.control(change.control_id);
    std::string name = control ? control_name(dialog, *control) : "";
    // Status texts are what the progress already shows, step by step.
    if (!shows(name == "status" ? LineOptions::Detail::verbose : LineOptions::Detail::normal)) return;
    say(dialog.caption, name.empty() ? utf8(change.text) : name + ": " + utf8(change.text));
}

void LineFrontEnd::progress_changed(const DialogView& dialog, const ControlView& bar, bool new_range) {
    if (!dialog.shown || !bar.visible() || !shows(LineOptions::Detail::normal)) return;
    std::string name = control_name(dialog, bar);
    if (options_.progress_line && (name == "record" || name == "image")) {
        std::lock_guard<std::mutex> lock(out_mutex_);
        uint64_t done = static_cast<uint64_t>(std::max(0L, bar.position - bar.low)) << 10;
        uint64_t total = static_cast<uint64_t>(std::max(0L, bar.high - bar.low)) << 10;
        // The record bar shows the erase until the image bar gets its range;
        // from then on the image bar shows the writing.
        if (name == "image") {
            image_bar_ranged_ = true;
            move_progress(kWriting, "writing", done, total);
        } else if (!image_bar_ranged_) {
            move_progress(kErasing, "erasing", done, total);
        }
        return;
    }
    int percent = progress_percent(bar);
    {
        std::lock_guard<std::mutex> lock(state_mutex_);
        // A new range starts the bar over: printed from its first position
        // on (a position left from the old range is about to be set).
        if (new_range) {
            shown_percent_.erase(bar.handle);
            if (bar.position != bar.low) return;
        }
        auto last = shown_percent_.find(bar.handle);
        bool print = last == shown_percent_.end() || (percent == 100 && last->second != 100) ||
                     percent - last->second >= kProgressStep || last->second - percent >= kProgressStep;
        if (!print) return;
        shown_percent_[bar.handle] = percent;
    }
    say(dialog.caption, "progress " + name + ": " + std::to_string(percent) + "%");
}

void LineFrontEnd::handle_line(const DialogView& dialog, const std::string& line) {
    std::string word = trim(line);
    if (word.empty()) return;
    std::vector<std::u16string> names;
    for (const ControlView* button : dialog.visible_buttons()) {
        if (equal_ignoring_case(word, utf8(button->text)) || word == std::to_string(button->id)) {
            deliver_command(dialog.handle, button->id);
            return;
        }
        names.push_back(button->text);
    }
    if (!options_.ask_again)
        refuse(dialog.caption, u"",
               "\"" + word + "\" is not a button of the dialog \"" + utf8(dialog.caption) + "\" (" +
                   join_buttons(names) + ")");
    say(dialog.caption, "no such button: " + word);
}

void LineFrontEnd::refuse(const std::u16string& caption, const std::u16string& text, const std::string& why) {
    say(caption, "refused: " + why);
    if (options_.refuse) options_.refuse(caption, text, why);
    out_.flush();
    std::fflush(nullptr);
    _exit(2);
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
    end_progress_line();
    say(box.caption, box.text);
    std::vector<std::u16string> labels, plain;
    for (int id : box.buttons) {
        plain.push_back(button_label(id));
        labels.push_back(button_label(id) + (id == box.default_button ? u" (default)" : u""));
    }
    say(box.caption, "buttons: " + join_buttons(labels));

    int answer = box.default_button;
    std::optional<std::string> word = preset;
    bool scripted = preset.has_value();
    for (;;) {
        if (!word) word = input_.read();
        // The end of input, or an empty line (Enter), takes the default button.
        if (!word || trim(*word).empty()) break;
        if (std::optional<int> chosen = match_button(box.buttons, *word)) {
            answer = *chosen;
            break;
        }
        // A word that names no button is never taken for the default.
        std::string why = (scripted ? "--answer " + trim(*word) : "\"" + trim(*word) + "\"") +
                          " is not a button of the box \"" + utf8(box.caption) + "\" (" + join_buttons(plain) + ")";
        if (!options_.ask_again) refuse(box.caption, box.text, why);
        say(box.caption, "refused: " + why + "; answer again");
        word.reset();
        scripted = false;
    }
    say(box.caption, "answer: " + utf8(button_label(answer)));
    return answer;
}

std::optional<std::u16string> LineFrontEnd::open_file(const OpenFileView& request, const PathCheck& check) {
    end_progress_line();
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
