// The board's configuration items. Item N comes from DIR/hal/item-N.bin when
// the HAL has stored it there (SET_CONFIG_ITEM), else from the profile key
// hal.itemN (a list of 32-bit words, little-endian); an empty list or no
// key means the item does not exist.
#pragma once
#include <cstdint>
#include <vector>

#include "module/module.h"

namespace sim::hal {

bool read_config_item(Module& module, uint32_t item, std::vector<uint8_t>* bytes);
// The same from a module directory and its profile, without opening it.
bool read_config_item(const std::filesystem::path& dir, const Config& profile, uint32_t item,
                      std::vector<uint8_t>* bytes);
bool store_config_item(Module& module, uint32_t item, const uint8_t* bytes, size_t length);

}  // namespace sim::hal
