#include "tests/e2e/terminal_screen.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

// Screen polls come this often, for at most this long.
constexpr auto kPollInterval = std::chrono::milliseconds(5);
constexpr int kMaxPolls = 4000;

const char kBlock[] = "\xe2\x96\x88";  // U+2588, a progress bar's filled cell

// UTF-8 characters (one cell each here) before a byte offset.
int cells_before(const std::string& line, size_t bytes) {
    int cells = 0;
    for (size_t i = 0; i < bytes && i < line.size(); ++i)
        if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80) ++cells;
    return cells;
}

std::vector<std::string> lines_of(const std::string& screen) {
    std::vector<std::string> lines;
    std::istringstream in(screen);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

bool TerminalRun::tmux_installed() {
    return testing_support::run_command("command -v tmux > /dev/null 2>&1", nullptr) == 0;
}

TerminalRun::TerminalRun(const std::vector<std::string>& args, int cols, int rows, const std::string& stdin_file) {
    std::string program = testing_support::binary("updatetool");
    for (const std::string& arg : args) program += " " + shell_quote(arg);
    if (!stdin_file.empty()) program += " < " + shell_quote(stdin_file);
    std::string dir = dir_.path().string();
    // The wrapper keeps the terminal open after the program so that its
    // modes and screen can be checked.
    // Ctrl-C reaches the program; the wrapper lives on.
    std::ofstream(dir_.path() / "run.sh")
        << "cd " << shell_quote(dir) << "\n"
        << "trap : INT\n"
        << "stty -g > modes.before\n"
        << "sh -c 'echo $$ > pid; exec \"$@\"' sh " << program << " 2> stderr\n"
        << "echo \"exit=$?\"\n"
        << "stty -g > modes.after\n"
        << "cmp -s modes.before modes.after && echo modes=same || echo modes=changed\n"
        << "exec sleep 600\n";
    // A UTF-8 locale and a terminal type every ncurses install knows.
    std::ofstream(dir_.path() / "tmux.conf") << "set -g default-terminal screen\n";
    tmux("-f " + shell_quote(dir + "/tmux.conf") + " new-session -d -x " + std::to_string(cols) + " -y " +
         std::to_string(rows) + " " + shell_quote("env LANG=C.UTF-8 LC_ALL=C.UTF-8 sh " + dir + "/run.sh"));
}

TerminalRun::~TerminalRun() { tmux("kill-server"); }

std::string TerminalRun::tmux(const std::string& arguments) const {
    std::string output;
    testing_support::run_command(
        "tmux -S " + shell_quote((dir_.path() / "tmux.socket").string()) + " " + arguments + " 2>&1", &output);
    return output;
}

bool TerminalRun::timed_out(int polls) const {
    if (polls >= kMaxPolls) return true;
    std::this_thread::sleep_for(kPollInterval);
    return false;
}

void TerminalRun::keys(const std::vector<std::string>& names) {
    std::string arguments = "send-keys";
    for (const std::string& name : names) arguments += " " + shell_quote(name);
    tmux(arguments);
}

void TerminalRun::click(int column, int row) {
    // A press and a release of the left button, in the X10 mouse encoding
    // the terminal type gives curses.
    auto event = [&](int button) {
        char bytes[32];
        std::snprintf(bytes, sizeof bytes, "1b 5b 4d %02x %02x %02x", 32 + button, 33 + column, 33 + row);
        tmux(std::string("send-keys -H ") + bytes);
    };
    event(0);
    event(3);
}

void TerminalRun::resize(int cols, int rows) {
    tmux("resize-window -x " + std::to_string(cols) + " -y " + std::to_string(rows));
}

void TerminalRun::signal(int number) {
    std::string pid;
    wait_until(
        [&](const std::string&) {
            std::ifstream(dir_.path() / "pid") >> pid;
            return !pid.empty();
        },
        "the program started");
    kill(std::stoi(pid), number);
}

std::string TerminalRun::screen() const { return tmux("capture-pane -p"); }

std::string TerminalRun::wait_for(const std::string& text, bool gone) {
    return wait_until([&](const std::string& shown) { return (shown.find(text) == std::string::npos) == gone; },
                      (gone ? "the end of \"" : "\"") + text + "\"");
}

int TerminalRun::wait_exit() {
    std::string shown = wait_for("modes=");
    size_t at = shown.find("exit=");
    return at == std::string::npos ? -1 : std::atoi(shown.c_str() + at + 5);
}

std::string TerminalRun::errors() const {
    std::ifstream in(dir_.path() / "stderr");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool TerminalRun::terminal_restored(std::string* why) const {
    std::string shown = screen();
    std::string flags = tmux("display -p '#{alternate_on} #{mouse_any_flag} #{cursor_flag} #{keypad_flag}'");
    // The screen from before is back: it had nothing on it but the shell's lines.
    bool clean = shown.find("\xe2\x94") == std::string::npos;  // no box drawing left over
    *why = "flags (alternate mouse cursor keypad): " + flags + "screen:\n" + shown;
    return flags == "0 0 1 0\n" && shown.find("modes=same") != std::string::npos && clean;
}

Cell find_on(const std::string& screen, const std::string& text) {
    std::vector<std::string> lines = lines_of(screen);
    for (size_t row = 0; row < lines.size(); ++row) {
        size_t at = lines[row].find(text);
        if (at != std::string::npos) return Cell{static_cast<int>(row), cells_before(lines[row], at)};
    }
    return Cell{};
}

std::vector<double> bar_fills(const std::string& screen) {
    std::vector<double> fills;
    for (const std::string& line : lines_of(screen)) {
        size_t open = 0;
        while ((open = line.find('[', open)) != std::string::npos) {
            int blocks = 0, blanks = 0;
            size_t at = open + 1;
            for (;;) {
                if (line.compare(at, 3, kBlock) == 0) {
                    ++blocks;
                    at += 3;
                } else if (at < line.size() && line[at] == ' ') {
                    ++blanks;
                    at += 1;
                } else {
                    break;
                }
            }
            if (at < line.size() && line[at] == ']' && blocks + blanks >= 20)
                fills.push_back(static_cast<double>(blocks) / (blocks + blanks));
            open = at;
        }
    }
    return fills;
}

}  // namespace e2e
