// The NOR pair's configuration from the module profile (nor.* keys): chip
// family and geometry by device code, busy times, injected faults.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "module/config.h"
#include "module/hw/nor/nor_chip.h"

namespace sim {

struct NorPairConfig {
    NorChipConfig chips[2];
    // Device offsets of the blocks to lock when a J3 module is created.
    std::vector<uint32_t> initially_locked;

    // Device bytes: two chips side by side.
    uint64_t device_size() const { return 2ull * chips[0].chip_bytes(); }
    // Device blocks (each two chip blocks side by side).
    uint32_t block_count() const { return chips[0].block_count(); }
    uint32_t block_at(uint32_t device_offset) const { return chips[0].block_at(device_offset / 2); }
};

bool nor_config_from_profile(const Config& profile, NorPairConfig* config, std::string* error);

}  // namespace sim
