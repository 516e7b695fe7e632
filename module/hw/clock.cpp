#include "module/hw/clock.h"

#include <chrono>
#include <thread>

namespace sim {

static uint64_t wall_now_ns() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

void VirtualClock::set_realtime(bool on) {
    realtime_ = on;
    wall_origin_ns_ = wall_now_ns();
    virtual_origin_ns_ = now_ns();
}

void VirtualClock::pace() {
    if (!realtime_) return;
    uint64_t virtual_elapsed = now_ns() - virtual_origin_ns_;
    uint64_t wall_elapsed = wall_now_ns() - wall_origin_ns_;
    // Sleep only when ahead by a millisecond or more: finer pacing costs more
    // than it shows.
    if (virtual_elapsed > wall_elapsed + 1000000u)
        std::this_thread::sleep_for(std::chrono::nanoseconds(virtual_elapsed - wall_elapsed));
}

}  // namespace sim
