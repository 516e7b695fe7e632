// The NAND board's configuration from the module profile (nand.* keys): the
// part by read-ID code, busy times, injected faults. Block and page numbers
// in the fault keys count across the chips in nand-N order: chip N's block b
// is N x (blocks per chip) + b, and likewise for pages.
#pragma once
#include <string>
#include <vector>

#include "module/config.h"
#include "module/hw/nand/nand_chip.h"

namespace sim {

struct NandBoardConfig {
    const NandPart* part = nullptr;
    std::vector<NandChipConfig> chips;  // index N = nand-N
    bool os_builds_bbmt = true;
    std::vector<uint32_t> bad_blocks;  // as listed, across the chips
};

bool nand_config_from_profile(const Config& profile, NandBoardConfig* config, std::string* error);

}  // namespace sim
