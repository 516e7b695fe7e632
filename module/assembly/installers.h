// Device installers, one per hardware family, called by Module::open and
// Module::create. Each reads its own keys from the profile, builds its
// device models from plain configurations and puts them on the module's bus.
#pragma once
#include <filesystem>
#include <string>

#include "module/config.h"

namespace sim {

class Module;

bool install_nor(Module& module, std::string* error);
bool create_nor_storage(const std::filesystem::path& dir, const Config& profile, std::string* error);
bool install_nand(Module& module, std::string* error);
bool create_nand_storage(const std::filesystem::path& dir, const Config& profile, std::string* error);
bool install_gpio(Module& module, std::string* error);

}  // namespace sim
