// The real updatetool at a terminal: a private tmux server runs it in a
// window of a given size; tests type keys, click, read the screen and, once
// it has ended, check that the terminal is as it was before.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_module.h"

namespace e2e {

class TerminalRun {
public:
    static bool tmux_installed();

    // Runs updatetool with args (not shell-quoted) at a cols x rows terminal,
    // with stdin redirected from stdin_file when one is given; its stderr
    // goes to a file.
    TerminalRun(const std::vector<std::string>& args, int cols = 100, int rows = 30,
                const std::string& stdin_file = "");
    ~TerminalRun();
    TerminalRun(const TerminalRun&) = delete;
    TerminalRun& operator=(const TerminalRun&) = delete;

    // tmux key names: "Tab", "BTab", "Enter", "Escape", "C-c", "Down", "n" ...
    void keys(const std::vector<std::string>& names);
    // A left click on a screen cell, as the terminal reports it.
    void click(int column, int row);
    void resize(int cols, int rows);
    void signal(int number);

    std::string screen() const;
    // Polls the screen until it shows text (or, with gone, until it does not
    // any more) and has settled; fails the test after a timeout. Returns the
    // screen.
    std::string wait_for(const std::string& text, bool gone = false);
    // Polls until the screen satisfies check.
    template <typename Check>
    std::string wait_until(Check check, const std::string& what);

    // Waits for the program to end; its exit status as the shell gives it.
    int wait_exit();
    // What the program wrote to stderr (sanitizer reports included).
    std::string errors() const;
    // After wait_exit: terminal modes, screen, cursor and mouse as before.
    bool terminal_restored(std::string* why) const;

private:
    std::string tmux(const std::string& arguments) const;
    bool timed_out(int polls) const;

    testing_support::TempDir dir_;
};

// Where text first appears on a screen, in character cells; row -1 when not.
struct Cell {
    int row = -1, column = -1;
};
Cell find_on(const std::string& screen, const std::string& text);

// The progress bars on a screen ("[████    ]" of 20 cells or more), each as
// the filled share of its cells.
std::vector<double> bar_fills(const std::string& screen);

template <typename Check>
std::string TerminalRun::wait_until(Check check, const std::string& what) {
    for (int polls = 0;; ++polls) {
        std::string shown = screen();
        // The same screen twice: not one caught in the middle of being drawn.
        if (check(shown) && screen() == shown) return shown;
        if (timed_out(polls)) {
            ADD_FAILURE() << "the screen never showed " << what << ":\n" << shown;
            return shown;
        }
    }
}

}  // namespace e2e
