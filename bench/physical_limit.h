// The least virtual time the module's flash chips and bus need for an image:
// the profile's erase and program times for the blocks and pages the image
// covers, plus moving its bytes over the bus once, one bus cycle per 32-bit
// word. A block that already reads erased needs no erase, only the reads that
// show it (the shorter of the two counts); the benchmark's modules are new,
// so every block reads erased.
#pragma once
#include <cstdint>
#include <string>

#include "module/config.h"

namespace bench {

// Nanoseconds, or 0 with a reason when the profile does not describe chips.
uint64_t physical_limit_ns(const sim::Config& profile, uint32_t start, uint32_t bytes, std::string* error);

}  // namespace bench
