// The module's virtual clock. Every chip busy time, GetTickCount and Sleep run
// on it. By default it runs as fast as the host can go (Sleep does not wait);
// in real-time mode the waits are paced to the wall clock.
#pragma once
#include <atomic>
#include <cstdint>

namespace sim {

class VirtualClock {
public:
    // Only the thread holding the flash (the module's mutex) advances the clock
    // on the hot path, so a relaxed load and store is enough and costs no
    // locked instruction.
    uint64_t now_ns() const { return now_.load(std::memory_order_relaxed); }
    void advance_ns(uint64_t ns) { now_.store(now_.load(std::memory_order_relaxed) + ns, std::memory_order_relaxed); }
    void advance_to_ns(uint64_t t) {
        if (t > now_ns()) now_.store(t, std::memory_order_relaxed);
    }
    // GetTickCount: milliseconds since the module's start value, wrapping at 2^32.
    uint32_t tick_count_ms() const { return static_cast<uint32_t>(start_ms_ + now_ns() / 1000000u); }
    void set_start_ms(uint32_t ms) { start_ms_ = ms; }

    void set_realtime(bool on);
    bool realtime() const { return realtime_; }
    // In real-time mode, blocks until the wall clock has caught up with the
    // virtual clock; otherwise returns at once.
    void pace();

    void reset() { now_.store(0, std::memory_order_relaxed); }

private:
    std::atomic<uint64_t> now_{0};
    uint32_t start_ms_ = 0;
    bool realtime_ = false;
    uint64_t wall_origin_ns_ = 0;
    uint64_t virtual_origin_ns_ = 0;
};

}  // namespace sim
