// Built-in module profiles: the starting keys of module.toml for each board.
#pragma once
#include <string>
#include <vector>

#include "module/config.h"

namespace sim {

struct ProfileInfo {
    const char* name;
    const char* description;
};

const std::vector<ProfileInfo>& builtin_profiles();
// Fills config with the named profile's keys; false for an unknown name.
bool builtin_profile(const std::string& name, Config* config);

}  // namespace sim
