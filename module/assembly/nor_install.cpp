// Builds the NOR pair of a PXA27x module from its profile and puts it on the
// physical bus at address 0.
#include <memory>

#include "module/assembly/installers.h"
#include "module/assembly/nor_profile.h"
#include "module/assembly/wear_profile.h"
#include "module/hw/nor/nor_pair.h"
#include "module/module.h"

namespace sim {

bool install_nor(Module& module, std::string* error) {
    NorPairConfig config;
    if (!nor_config_from_profile(module.config(), &config, error)) return false;
    std::unique_ptr<NorPair> pair = NorPair::open(config, module.dir(), module.clock(), module.events(), error);
    if (!pair) return false;
    std::vector<std::unique_ptr<ChipWear>> wear;
    WearGeometry geometry{2, config.block_count(), 0};
    if (!open_chip_wear(module.dir(), module.config(), "nor", geometry, &wear, error)) return false;
    for (int n = 0; n < 2; ++n) pair->chip(n).set_wear(std::move(wear[n]));
    NorPair* nor = module.own(std::move(pair));
    nor->set_power(&module.power());
    module.bus().map(0, nor->device_size(), nor);
    module.set_nor(nor);
    return true;
}

bool create_nor_storage(const std::filesystem::path& dir, const Config& profile, std::string* error) {
    NorPairConfig config;
    if (!nor_config_from_profile(profile, &config, error)) return false;
    return NorPair::create_files(config, dir, error);
}

}  // namespace sim
