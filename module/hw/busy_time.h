// Which busy time a flash operation takes between its datasheet's typical and
// maximum: always the typical one, always the maximum, or each operation a
// seeded draw between the two (the same seed and the same operations draw
// the same times).
#pragma once
#include <cstdint>

#include "module/hw/cut_bits.h"

namespace sim {

enum class TimingMode : uint8_t { Typical, Max, Spread };

class BusyTime {
public:
    BusyTime() = default;
    BusyTime(TimingMode mode, uint64_t seed) : mode_(mode), state_(seed) {}

    TimingMode mode() const { return mode_; }
    // The busy time of the next operation; max below typical counts as typical.
    uint64_t pick(uint64_t typical, uint64_t max) {
        if (max <= typical || mode_ == TimingMode::Typical) return typical;
        if (mode_ == TimingMode::Max) return max;
        return typical + next() % (max - typical + 1);
    }

private:
    uint64_t next() { return next_seeded(state_); }

    TimingMode mode_ = TimingMode::Typical;
    uint64_t state_ = 0;
};

}  // namespace sim
