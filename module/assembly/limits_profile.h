// The datasheet limits a module's chips keep or break, from the profile's
// limits.* keys: which busy times operations take (typical, maximum, or
// drawn between), what a page programmed past its partial-program limit
// reads, how often a bad block's program or erase gets through.
#pragma once
#include <string>

#include "module/config.h"
#include "module/hw/busy_time.h"

namespace sim {

constexpr uint32_t kDefaultLimitsSeed = 1;

bool timing_from_profile(const Config& profile, TimingMode* mode, uint64_t* seed, std::string* error);

}  // namespace sim
