// Each flash chip's wear from the profile's wear keys (nor.wear.*,
// nand.wear.*) and the counters in the module's wear.bin.
#pragma once
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "module/config.h"
#include "module/hw/wear/chip_wear.h"

namespace sim {

// Each chip's wear for a flash of the given kind ("nor" or "nand"): the
// settings from the profile and the counters in dir/wear.bin. Page numbers
// in nand.wear.weak_pages count across the chips, as in the fault keys.
bool open_chip_wear(const std::filesystem::path& dir, const Config& profile, const std::string& kind,
                    WearGeometry geometry, std::vector<std::unique_ptr<ChipWear>>* chips, std::string* error);
// The settings alone (modulectl shows which blocks are worn).
bool wear_settings_from_profile(const Config& profile, const std::string& kind, WearGeometry geometry,
                                std::vector<WearSettings>* chips, std::string* error);

}  // namespace sim
