// The CFI query table of one NOR chip, as Read Query (0x98) shows it: word
// address n carries byte n in its low half. Built from the chip's family
// and geometry.
#pragma once
#include <cstdint>
#include <vector>

#include "module/hw/nor/nor_chip.h"

namespace sim {

// Words 0 .. end of the primary extended table; addresses past it read 0.
std::vector<uint16_t> build_query_table(const NorChipConfig& config);

}  // namespace sim
