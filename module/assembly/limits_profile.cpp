#include "module/assembly/limits_profile.h"

namespace sim {

bool timing_from_profile(const Config& profile, TimingMode* mode, uint64_t* seed, std::string* error) {
    std::string name = profile.get_string("limits.timing", "typical");
    if (name == "typical")
        *mode = TimingMode::Typical;
    else if (name == "max")
        *mode = TimingMode::Max;
    else if (name == "spread")
        *mode = TimingMode::Spread;
    else {
        if (error)
            *error = "module.toml: limits.timing must be \"typical\", \"max\" or \"spread\", not \"" + name + "\"";
        return false;
    }
    *seed = profile.get_u32("limits.seed", kDefaultLimitsSeed);
    return true;
}

}  // namespace sim
