// How the host program sets up the user interface: which front-end draws the
// dialogs, scripted message-box answers, escapes delivered when given window
// texts appear, and Ctrl-C.
#pragma once
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim::ui {

class FrontEnd;

// The line front-end: one flushed line on out per event; answers, button
// presses and file names read from in, one line each.
std::shared_ptr<FrontEnd> make_line_front_end(std::istream& in, std::ostream& out);

// Chooses the front-end by name: "line", or "auto" (the terminal front-end
// when stdin and stdout are terminals, once it exists; the line front-end
// until then). Unknown names and "terminal" fail with a reason.
bool select_front_end(const std::string& name, std::string* error);

// Installs a front-end; null restores the default (line, on stdin/stdout).
void set_front_end(std::shared_ptr<FrontEnd> front_end);
std::shared_ptr<FrontEnd> front_end();

// Message-box answers, used in order, one per box, before any other source.
// Words: yes, no, ok, cancel, abort, retry, ignore (any case) or a button id.
bool set_answers(const std::vector<std::string>& words, std::string* error);
// The next scripted answer, taken off the list.
std::optional<std::string> take_answer();
// The scripted answers no message box has taken, in order.
std::vector<std::string> unused_answers();

// Escape (WM_COMMAND IDCANCEL) is delivered to a dialog right after one of
// its windows shows a text starting with one of these prefixes, before the
// thread that set the text goes on.
void add_escape_on_text(const std::u16string& prefix);
void clear_escape_on_text();
bool escape_on_text(const std::u16string& text);

// Ctrl-C delivers IDCANCEL to the active dialog, as Escape would; with no
// dialog open it ends the program as usual.
void install_interrupt_handler();

// Default front-end, no answers, no escapes (for tests).
void reset_ui_config();

}  // namespace sim::ui
