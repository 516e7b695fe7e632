// The erase blocks of a module's flash as the tools name them, from the
// profile and the flash files alone (no module needs to be open): on NOR the
// device blocks of nor.bin (two chip blocks side by side); on NAND the device
// blocks as the system counts them (chip select 1's blocks after chip select
// 0's; on a doubled bus block b is both chips' block b, and block 0 is chip
// 0's first block, reached 8 bits wide). Also where a chip's program or erase
// lands in the device, and, on NAND, which logical offsets a device range
// holds through the block map.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "module/config.h"
#include "module/hw/device_events.h"
#include "module/hw/nand/nand_layout.h"
#include "module/hw/nand/nand_view.h"

namespace sim {

struct ByteRange {
    uint64_t start;
    uint64_t end;  // one past the last byte
};

class FlashBlocks {
public:
    // From module.toml's flash keys; false with a reason.
    bool load(const Config& profile, std::string* error);

    bool nand() const { return part_ != nullptr; }
    const NandPart* nand_part() const { return part_; }
    const NandDeviceLayout& nand_layout() const { return layout_; }
    uint32_t count() const { return part_ ? layout_.blocks : static_cast<uint32_t>(starts_.size()); }
    // Device offsets of block i.
    ByteRange range(uint32_t block) const;
    uint32_t block_at(uint64_t device_offset) const;

    // The device bytes a finished program or erase covered: NOR events give
    // the bus offset and one chip's bytes; NAND chip events the chip and its
    // own byte address. Empty (start == end) for events of other sources.
    ByteRange device_range(const DeviceEvent& event) const;

    // The stored contents of block i, every chip's part of it: NOR the bytes
    // of nor.bin; NAND each chip block's main areas, then its spare areas,
    // with the tail past a file's end erased.
    std::vector<uint8_t> read_block(const std::filesystem::path& dir, uint32_t block) const;
    // NAND: the block lies wholly past the end of its chip files, so it is
    // erased without a byte read (a cheap test for large, mostly empty chips).
    bool past_files(const std::filesystem::path& dir, uint32_t block) const;
    // NOR J3 lock bits (nor.locks): either chip's block locked.
    bool locked(const std::filesystem::path& dir, uint32_t block) const;

private:
    std::vector<std::pair<unsigned, uint32_t>> chip_blocks(uint32_t block) const;

    const NandPart* part_ = nullptr;
    NandDeviceLayout layout_{};
    std::vector<uint64_t> starts_;  // NOR block starts
    uint64_t size_ = 0;
};

// NAND: the pieces of the logical view in device order, each a logical
// offset, a device offset and a length, through the block map.
struct LogicalPiece {
    uint64_t logical;
    uint64_t device;
    uint64_t bytes;
};
std::vector<LogicalPiece> logical_pieces(const NandPart& part, const NandBlockMap& map);
// The logical ranges a device range holds (none for the table page, the
// reserve pool and blocks no logical block lies in).
std::vector<ByteRange> logical_ranges(const std::vector<LogicalPiece>& pieces, ByteRange device);

// Adds a range to a sorted list of disjoint ranges, joining neighbours.
void add_range(std::vector<ByteRange>& ranges, ByteRange range);

}  // namespace sim
