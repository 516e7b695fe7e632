// The controlling terminal in curses mode. start() runs on the thread that
// creates the front-end; everything after it on the screen thread, except
// wake(), which any thread may call. The terminal is given back by end(), and
// by the handlers of the signals that end the process (a crash, SIGTERM,
// SIGHUP, SIGQUIT), which restore it before the signal takes its course.
#pragma once
#include <string>

#include "module/ui/terminal/layers.h"

namespace sim::ui::terminal {

struct Input {
    enum class Kind { character, key, click, double_click, resize };
    Kind kind = Kind::key;
    int code = 0;             // a character, or a curses KEY_ code
    int column = 0, row = 0;  // clicks
};

class Session {
public:
    Session() = default;
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool start(std::string* error);
    void end();
    bool active() const { return active_; }

    // Any thread: makes wait() return.
    void wake();
    // Waits for input, a wake() or a resize, at most timeout_ms (-1: no limit).
    void wait(int timeout_ms);
    // The next input that is waiting; false when there is none.
    bool next(Input* input);
    CellSize size() const;

private:
    bool resized();

    bool active_ = false;
    int wake_pipe_[2] = {-1, -1};
};

}  // namespace sim::ui::terminal
