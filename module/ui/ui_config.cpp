// The host's settings for the user interface. UPDATETOOL_TERMINAL_UI (1 or 0)
// tells whether this build has the terminal front-end.
#include "module/ui/ui_config.h"

#include <unistd.h>

#include <deque>
#include <iostream>
#include <mutex>

#include "module/observer.h"
#include "module/ui/front_end.h"

namespace sim::ui {
namespace {

struct Settings {
    std::mutex mutex;
    std::shared_ptr<FrontEnd> front_end;
    std::deque<std::string> answers;
    std::vector<std::u16string> escape_prefixes;
};

Settings& settings() {
    static Settings instance;
    return instance;
}

const char* const kAnswerWords[] = {"ok", "cancel", "abort", "retry", "ignore", "yes", "no"};

bool answer_word_known(const std::string& word) {
    std::string wanted = trim(word);
    for (int id = IDOK; id <= IDNO; ++id)
        if (wanted == std::to_string(id)) return true;
    for (const char* known : kAnswerWords)
        if (equal_ignoring_case(wanted, known)) return true;
    return false;
}

}  // namespace

bool terminal_front_end_built() { return UPDATETOOL_TERMINAL_UI != 0; }

#if !UPDATETOOL_TERMINAL_UI
std::shared_ptr<FrontEnd> make_terminal_front_end(std::string* error) {
    *error = "the terminal front-end is not part of this build; use --ui line";
    return nullptr;
}
#endif

std::optional<FrontEndKind> choose_front_end(const std::string& name, bool main_dialog, bool at_terminal,
                                             bool terminal_built, std::string* error) {
    if (name == "line") return FrontEndKind::line;
    if (name == "auto")
        return main_dialog && at_terminal && terminal_built ? FrontEndKind::terminal : FrontEndKind::line;
    if (name != "terminal") {
        *error = "unknown front-end \"" + name + "\" (line, terminal, auto)";
        return std::nullopt;
    }
    if (!terminal_built) {
        *error = "the terminal front-end is not part of this build; use --ui line";
        return std::nullopt;
    }
    if (!at_terminal) {
        *error = "--ui terminal needs a terminal on stdin and stdout; use --ui line";
        return std::nullopt;
    }
    return FrontEndKind::terminal;
}

bool select_front_end(const std::string& name, bool main_dialog, std::string* error) {
    bool at_terminal = isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
    std::optional<FrontEndKind> kind =
        choose_front_end(name, main_dialog, at_terminal, terminal_front_end_built(), error);
    if (!kind) return false;
    if (*kind == FrontEndKind::terminal) {
        std::string reason;
        std::shared_ptr<FrontEnd> terminal = make_terminal_front_end(&reason);
        if (terminal) {
            set_front_end(terminal);
            return true;
        }
        if (name == "terminal") {
            *error = reason;
            return false;
        }
    }
    set_front_end(make_line_front_end(std::cin, std::cout));
    return true;
}

void set_front_end(std::shared_ptr<FrontEnd> front_end) {
    std::lock_guard<std::mutex> lock(settings().mutex);
    settings().front_end = std::move(front_end);
}

std::shared_ptr<FrontEnd> front_end() {
    std::lock_guard<std::mutex> lock(settings().mutex);
    if (!settings().front_end) settings().front_end = make_line_front_end(std::cin, std::cout);
    return settings().front_end;
}

bool set_answers(const std::vector<std::string>& words, std::string* error) {
    for (const std::string& word : words) {
        if (!answer_word_known(word)) {
            *error = "unknown answer \"" + word + "\" (yes, no, ok, cancel, abort, retry, ignore)";
            return false;
        }
    }
    std::lock_guard<std::mutex> lock(settings().mutex);
    settings().answers.assign(words.begin(), words.end());
    return true;
}

std::optional<std::string> take_answer() {
    std::lock_guard<std::mutex> lock(settings().mutex);
    if (settings().answers.empty()) return std::nullopt;
    std::string word = settings().answers.front();
    settings().answers.pop_front();
    return word;
}

std::vector<std::string> unused_answers() {
    std::lock_guard<std::mutex> lock(settings().mutex);
    return {settings().answers.begin(), settings().answers.end()};
}

void add_escape_on_text(const std::u16string& prefix) {
    std::lock_guard<std::mutex> lock(settings().mutex);
    settings().escape_prefixes.push_back(prefix);
}

void clear_escape_on_text() {
    std::lock_guard<std::mutex> lock(settings().mutex);
    settings().escape_prefixes.clear();
}

bool escape_on_text(const std::u16string& text) {
    std::lock_guard<std::mutex> lock(settings().mutex);
    for (const std::u16string& prefix : settings().escape_prefixes)
        if (text.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
}

void reset_ui_config() {
    std::shared_ptr<FrontEnd> previous;
    {
        std::lock_guard<std::mutex> lock(settings().mutex);
        previous = std::move(settings().front_end);
        settings().answers.clear();
        settings().escape_prefixes.clear();
    }
}

}  // namespace sim::ui
