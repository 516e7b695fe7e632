// The flash of a NAND module as the system's flash operations read it, made
// from the flash files alone (no module needs to be open): logical offsets
// through the shared block map, with the boot area's own translation (the
// relocation table page in block 0 is skipped over; the last page of the
// boot area, and on a doubled bus all of it past chip 0's first block, is
// not stored and reads as 0xFF). Data is taken raw, without
// ECC and without injected read faults.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "module/hw/nand/nand_layout.h"

namespace sim {

struct NandBlockMap {
    std::vector<uint16_t> physical;  // per device block
    std::string source;              // where it came from, for reports
};

// The shared map when DIR/objects/NAND_FLASH_BBMT.map holds one with its
// magic; else the map the table page gives; else the identity.
NandBlockMap load_block_map(const std::filesystem::path& dir, const NandPart& part);

// The pieces of [offset, offset + length) of the logical view in order: each
// a device offset (-1 for bytes that are not stored) and a byte count. False
// beyond the view's end.
bool for_each_logical_run(const NandPart& part, const NandBlockMap& map, uint64_t offset, uint64_t length,
                          const std::function<void(int64_t device, uint64_t run)>& visit);
// Reads [offset, offset + length) of the logical view; false beyond its end.
bool read_logical_view(const std::filesystem::path& dir, const NandPart& part, const NandBlockMap& map, uint64_t offset,
                       uint64_t length, uint8_t* out);

struct NandBadBlock {
    unsigned chip;
    uint32_t block;         // the chip's own
    uint32_t device_block;  // as the system counts blocks
    bool configured;        // listed in nand.bad_blocks: program and erase fail
    bool marked;            // carries a factory marker
};

// Listed and marked bad blocks, in chip and block order.
std::vector<NandBadBlock> find_bad_blocks(const std::filesystem::path& dir, const NandPart& part,
                                          const std::vector<uint32_t>& configured);

}  // namespace sim
