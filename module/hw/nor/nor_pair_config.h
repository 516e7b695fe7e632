// What a NOR pair is built from: the two chips' configurations and the
// blocks a new J3 module starts with locked. A plain value: a test or a tool
// fills it in by hand, the profile reader (module/assembly/nor_profile.h)
// from module.toml.
#pragma once
#include <cstdint>
#include <vector>

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

}  // namespace sim
