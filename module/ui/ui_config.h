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

// The terminal front-end: the dialogs drawn full-screen with ncurses on the
// controlling terminal (stdin and stdout), keys and mouse. Null with a reason
// when this build lacks it or the terminal cannot be set up.
std::shared_ptr<FrontEnd> make_terminal_front_end(std::string* error);
bool terminal_front_end_built();

enum class FrontEndKind { line, terminal };

// Which front-end a run gets: "line" and "terminal" as named; "auto" the
// terminal front-end for the main dialog (no module command line) when stdin
// and stdout are terminals, the line front-end otherwise. "terminal" fails
// without a terminal or in a build without it; unknown names fail.
std::optional<FrontEndKind> choose_front_end(const std::string& name, bool main_dialog, bool at_terminal,
                                             bool terminal_built, std::string* error);

// Installs the front-end choose_front_end picks for this process's stdin and
// stdout. An "auto" choice whose terminal cannot be set up gets the line
// front-end.
bool select_front_end(const std::string& name, bool main_dialog, std::string* error);

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
// dialog open it ends the program as usual, the front-end ended first.
void install_interrupt_handler();

// Default front-end, no answers, no escapes (for tests).
void reset_ui_config();

}  // namespace sim::ui
