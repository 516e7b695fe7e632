// The NOR pair's configuration from the module profile (nor.* keys): chip
// family and geometry by device code, busy times, injected faults.
#pragma once
#include <string>

#include "module/config.h"
#include "module/hw/nor/nor_pair_config.h"

namespace sim {

bool nor_config_from_profile(const Config& profile, NorPairConfig* config, std::string* error);

}  // namespace sim
