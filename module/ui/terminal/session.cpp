#include "module/ui/terminal/session.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>

#include "module/ui/terminal/curses_api.h"

namespace sim::ui::terminal {
namespace {

// Signals that end the process: the terminal is restored before they do.
constexpr int kEndingSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kEndingSignalCount = sizeof kEndingSignals / sizeof kEndingSignals[0];

// Escape alone is a key of its own after this many milliseconds.
constexpr int kEscapeDelayMs = 25;

std::atomic<bool> curses_on{false};
struct termios saved_modes;
bool have_saved_modes = false;
struct sigaction previous_ending[kEndingSignalCount];
struct sigaction previous_resize;
int resize_wake_fd = -1;

void restore_terminal() {
    if (curses_on.exchange(false)) endwin();
    if (have_saved_modes) tcsetattr(STDIN_FILENO, TCSANOW, &saved_modes);
}

void on_ending_signal(int signal_number) {
    restore_terminal();
    // SA_RESETHAND has put the default action back: the signal ends the
    // process as it would have.
    raise(signal_number);
}

void on_resize(int) {
    int saved_errno = errno;
    char byte = 1;
    if (resize_wake_fd >= 0) {
        ssize_t written = write(resize_wake_fd, &byte, 1);
        (void)written;
    }
    errno = saved_errno;
}

}  // namespace

// The pipe outlives end(): a thread may still wake a screen that has ended.
Session::~Session() {
    end();
    for (int fd : wake_pipe_)
        if (fd >= 0) close(fd);
}

bool Session::start(std::string* error) {
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
        *error = "stdin and stdout are not a terminal";
        return false;
    }
    const char* type = std::getenv("TERM");
    if (type == nullptr || *type == 0) {
        *error = "TERM is not set";
        return false;
    }
    if (pipe(wake_pipe_) != 0) {
        *error = "cannot make a pipe";
        return false;
    }
    for (int fd : wake_pipe_) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    have_saved_modes = tcgetattr(STDIN_FILENO, &saved_modes) == 0;

    // Only the character type: number formats stay as the program expects.
    std::setlocale(LC_CTYPE, "");
    set_escdelay(kEscapeDelayMs);
    SCREEN* screen = newterm(type, stdout, stdin);
    if (screen == nullptr) {
        *error = std::string("the terminal type \"") + type + "\" is not known to curses";
        return false;
    }
    set_term(screen);
    curses_on = true;
    active_ = true;
    // Ctrl-C stays a signal (it cancels the active dialog); keys come at once.
    cbreak();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    curs_set(0);
    mouseinterval(0);
    // Every button event is taken and the unwanted ones dropped here: curses
    // would wait for the next input after an event outside the mask.
    mousemask(ALL_MOUSE_EVENTS, nullptr);

    struct sigaction action = {};
    action.sa_handler = on_ending_signal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kEndingSignalCount; ++i) sigaction(kEndingSignals[i], &action, &previous_ending[i]);
    resize_wake_fd = wake_pipe_[1];
    struct sigaction resize = {};
    resize.sa_handler = on_resize;
    resize.sa_flags = SA_RESTART;
    sigemptyset(&resize.sa_mask);
    sigaction(SIGWINCH, &resize, &previous_resize);
    return true;
}

void Session::end() {
    if (!active_) return;
    active_ = false;
    sigaction(SIGWINCH, &previous_resize, nullptr);
    resize_wake_fd = -1;
    restore_terminal();
    for (int i = 0; i < kEndingSignalCount; ++i) sigaction(kEndingSignals[i], &previous_ending[i], nullptr);
}

void Session::wake() {
    char byte = 1;
    if (wake_pipe_[1] >= 0) {
        ssize_t written = write(wake_pipe_[1], &byte, 1);
        (void)written;
    }
}

void Session::wait(int timeout_ms) {
    struct pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
    poll(fds, 2, timeout_ms);
    char bytes[64];
    while (read(wake_pipe_[0], bytes, sizeof bytes) > 0) {}
}

bool Session::resized() {
    struct winsize size = {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_row == 0 || size.ws_col == 0) return false;
    if (size.ws_row == LINES && size.ws_col == COLS) return false;
    resize_term(size.ws_row, size.ws_col);
    return true;
}

bool Session::next(Input* input) {
    if (resized()) {
        input->kind = Input::Kind::resize;
        return true;
    }
    wint_t code = 0;
    int kind = wget_wch(stdscr, &code);
    if (kind == ERR) return false;
    if (kind == KEY_CODE_YES && code == KEY_RESIZE) {
        input->kind = Input::Kind::resize;
        return true;
    }
    if (kind == KEY_CODE_YES && code == KEY_MOUSE) {
        MEVENT event = {};
        if (getmouse(&event) != OK) return next(input);
        if (event.bstate & BUTTON1_DOUBLE_CLICKED)
            input->kind = Input::Kind::double_click;
        else if (event.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED))
            input->kind = Input::Kind::click;
        else
            return next(input);
        input->column = event.x;
        input->row = event.y;
        return true;
    }
    input->kind = kind == KEY_CODE_YES ? Input::Kind::key : Input::Kind::character;
    input->code = static_cast<int>(code);
    return true;
}

CellSize Session::size() const { return CellSize{COLS, LINES}; }

}  // namespace sim::ui::terminal
