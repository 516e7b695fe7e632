#include "module/hw/wear/chip_wear.h"

#include "module/hw/cut_bits.h"

namespace sim {

namespace {

constexpr uint32_t kMillion = 1000000;

}  // namespace

bool ChipWear::erase_fails(uint32_t block) {
    bool from_op = past_fail_point();
    return from_op || worn(block);
}

// A worn block still holds what its last erase let be programmed; only its
// next erase fails.
bool ChipWear::program_fails(uint32_t page) {
    if (past_fail_point()) return true;
    return counts_programs_of(page) && file_->programs(chip_, page) >= settings_.page_program_limit;
}

void ChipWear::programmed(uint32_t page) {
    if (counts_programs_of(page)) file_->count_program(chip_, page);
}

// The nth read of the chip flips a bit when its draw falls under the rate:
// the same seed and the same reads flip the same bits.
int64_t ChipWear::flipped_bit(uint32_t main_bytes) {
    if (settings_.bitflip_ppm == 0 || main_bytes == 0) return -1;
    uint64_t draw = seeded_mix(seeded_mix(settings_.seed ^ (uint64_t{chip_} << 32)) + reads_++);
    if (draw % kMillion >= settings_.bitflip_ppm) return -1;
    return static_cast<int64_t>((draw / kMillion) % (uint64_t{main_bytes} * 8));
}

}  // namespace sim
