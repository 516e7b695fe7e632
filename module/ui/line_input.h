// Lines from an input stream, read on a thread of their own and only when
// someone wants one, so that a dialog can wait for a line and for calls from
// other threads at once. A line is never lost: it stays queued until a reader
// takes it, whoever asked for it first.
#pragma once
#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <string>

namespace sim::ui {

class LineInput {
public:
    explicit LineInput(std::istream& in);
    ~LineInput();
    LineInput(const LineInput&) = delete;
    LineInput& operator=(const LineInput&) = delete;

    // Waits for the next line; nothing once the input has ended.
    std::optional<std::string> read();

    enum class Poll { line, pending, ended };
    // Takes a line if one is there. When none is, on_ready is called once,
    // from the reading thread, as soon as a line or the end arrives; a later
    // try_read replaces a waiting on_ready.
    Poll try_read(std::string* line, std::function<void()> on_ready);

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace sim::ui
