#include "module/hw/wear/chip_wear.h"

namespace sim {

namespace {

// splitmix64: a well-mixed 64-bit value from each input.
uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

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
    uint64_t draw = mix(mix(settings_.seed ^ (uint64_t{chip_} << 32)) + reads_++);
    if (draw % kMillion >= settings_.bitflip_ppm) return -1;
    return static_cast<int64_t>((draw / kMillion) % (uint64_t{main_bytes} * 8));
}

bool wear_settings_from_profile(const Config& profile, const std::string& kind, WearGeometry geometry,
                                std::vector<WearSettings>* chips, std::string* error) {
    const std::string prefix = kind + ".wear.";
    WearSettings common;
    common.erase_limit = profile.get_u32(prefix + "erase_limit", 0);
    common.fail_from_op = profile.get_u32(prefix + "fail_from_op", 0);
    common.page_program_limit = profile.get_u32(prefix + "page_program_limit", 0);
    common.bitflip_ppm = profile.get_u32(prefix + "bitflip_ppm", 0);
    common.seed = profile.get_u32(prefix + "seed", 0);
    chips->assign(geometry.chips, common);
    for (uint32_t page : profile.get_u32_list(prefix + "weak_pages")) {
        uint32_t chip = geometry.pages ? page / geometry.pages : geometry.chips;
        if (chip >= geometry.chips) {
            if (error)
                *error = "module.toml: " + prefix + "weak_pages: " + std::to_string(page) + " is beyond the last of " +
                         std::to_string(uint64_t{geometry.pages} * geometry.chips);
            return false;
        }
        (*chips)[chip].weak_pages.insert(page % geometry.pages);
    }
    return true;
}

bool open_chip_wear(const std::filesystem::path& dir, const Config& profile, const std::string& kind,
                    WearGeometry geometry, std::vector<std::unique_ptr<ChipWear>>* chips, std::string* error) {
    std::vector<WearSettings> settings;
    if (!wear_settings_from_profile(profile, kind, geometry, &settings, error)) return false;
    auto file = std::make_shared<WearFile>();
    if (!file->open(dir, geometry, error)) return false;
    chips->clear();
    for (unsigned n = 0; n < geometry.chips; ++n) chips->push_back(std::make_unique<ChipWear>(file, n, settings[n]));
    return true;
}

}  // namespace sim
