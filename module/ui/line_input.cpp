#include "module/ui/line_input.h"

#include <condition_variable>
#include <deque>
#include <iostream>
#include <mutex>
#include <thread>

namespace sim::ui {

struct LineInput::State {
    explicit State(std::istream& input) : in(input) {}
    std::istream& in;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> lines;
    bool ended = false;
    bool stop = false;
    bool reading = false;
    int blocked_readers = 0;
    std::function<void()> on_ready;
    std::thread reader;

    bool wanted() const { return blocked_readers > 0 || on_ready != nullptr; }

    static void run(std::shared_ptr<State> self) {
        std::unique_lock<std::mutex> lock(self->mutex);
        for (;;) {
            self->changed.wait(lock,
                               [&] { return self->stop || (self->wanted() && self->lines.empty() && !self->ended); });
            if (self->stop) return;
            self->reading = true;
            lock.unlock();
            std::string line;
            bool got = static_cast<bool>(std::getline(self->in, line));
            lock.lock();
            self->reading = false;
            if (got) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                self->lines.push_back(line);
            } else {
                self->ended = true;
            }
            std::function<void()> notify = std::move(self->on_ready);
            self->on_ready = nullptr;
            self->changed.notify_all();
            if (notify) {
                lock.unlock();
                notify();
                lock.lock();
            }
        }
    }
};

LineInput::LineInput(std::istream& in) : state_(std::make_shared<State>(in)) {
    state_->reader = std::thread(State::run, state_);
}

LineInput::~LineInput() {
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->stop = true;
    state_->changed.notify_all();
    // A read of the terminal may never come back: that thread is left to end
    // with the process. Any other stream returns promptly, and must outlive it.
    bool may_block_forever = state_->reading && &state_->in == &std::cin;
    lock.unlock();
    if (may_block_forever)
        state_->reader.detach();
    else
        state_->reader.join();
}

std::optional<std::string> LineInput::read() {
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->blocked_readers++;
    state_->changed.notify_all();
    state_->changed.wait(lock, [&] { return !state_->lines.empty() || state_->ended; });
    state_->blocked_readers--;
    if (state_->lines.empty()) return std::nullopt;
    std::string line = std::move(state_->lines.front());
    state_->lines.pop_front();
    return line;
}

LineInput::Poll LineInput::try_read(std::string* line, std::function<void()> on_ready) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!state_->lines.empty()) {
        *line = std::move(state_->lines.front());
        state_->lines.pop_front();
        return Poll::line;
    }
    if (state_->ended) return Poll::ended;
    state_->on_ready = std::move(on_ready);
    state_->changed.notify_all();
    return Poll::pending;
}

}  // namespace sim::ui
