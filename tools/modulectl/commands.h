// Flash-kind specific parts of modulectl.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "module/module.h"

std::string describe_flash(sim::Module& module);
// Size of the flash as the system addresses it (NOR: the device; NAND: the
// logical view through the block map).
uint64_t flash_view_size(sim::Module& module);
bool read_flash_view(sim::Module& module, uint64_t offset, uint64_t length, std::vector<uint8_t>* bytes,
                     std::string* error);
