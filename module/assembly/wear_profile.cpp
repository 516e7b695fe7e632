#include "module/assembly/wear_profile.h"

namespace sim {

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
