#include "module/flash_blocks.h"

#include <algorithm>

#include "module/assembly/nand_profile.h"
#include "module/assembly/nor_profile.h"
#include "module/flash_view.h"
#include "module/hw/folder_file.h"
#include "module/hw/nand/nand_storage.h"

namespace sim {

bool FlashBlocks::load(const Config& profile, std::string* error) {
    if (profile.get_string("flash.kind", "nor") == "nand") {
        NandBoardConfig board;
        if (!nand_config_from_profile(profile, &board, error)) return false;
        part_ = board.part;
        layout_ = nand_device_layout(*part_);
        size_ = uint64_t{layout_.blocks} * layout_.block_bytes;
        return true;
    }
    NorPairConfig nor;
    if (!nor_config_from_profile(profile, &nor, error)) return false;
    // A device block is the same chip block of both chips side by side.
    const NorChipConfig& chip = nor.chips[0];
    uint64_t at = 0;
    for (uint32_t b = 0; b < chip.block_count(); ++b) {
        starts_.push_back(at);
        at += 2ull * (b < chip.parameter_blocks ? chip.parameter_block_bytes : chip.main_block_bytes);
    }
    size_ = at;
    return true;
}

ByteRange FlashBlocks::range(uint32_t block) const {
    if (part_) return {uint64_t{block} * layout_.block_bytes, uint64_t{block + 1} * layout_.block_bytes};
    return {starts_[block], block + 1 < starts_.size() ? starts_[block + 1] : size_};
}

uint32_t FlashBlocks::block_at(uint64_t device_offset) const {
    if (part_) return static_cast<uint32_t>(device_offset / layout_.block_bytes);
    return static_cast<uint32_t>(std::upper_bound(starts_.begin(), starts_.end(), device_offset) - starts_.begin() - 1);
}

ByteRange FlashBlocks::device_range(const DeviceEvent& e) const {
    if (!part_) {
        if (e.source != EventSource::Nor) return {0, 0};
        // An erase names its block by any word in it.
        if (e.op == Operation::BlockErase) return range(e.block);
        return {e.address, e.address + 2ull * e.length};
    }
    if (e.source != EventSource::NandChip) return {0, 0};
    const uint64_t address = e.address, length = e.length;
    switch (part_->wiring) {
        case NandWiring::Single: return {address, address + length};
        case NandWiring::TwoSelects: {
            uint64_t base = e.unit ? kChipSelect1Boundary : 0;
            return {base + address, base + address + length};
        }
        case NandWiring::DoubledBus: {
            // Chip 0's first block is reached 8 bits wide; past it both lanes
            // carry byte k of their chip at device bytes 2k and 2k + 1.
            uint64_t chip_block = uint64_t{part_->pages_per_block} * part_->page_bytes;
            if (e.unit == 0 && address < chip_block) return {address, address + length};
            return {2 * address, 2 * (address + length)};
        }
    }
    return {0, 0};
}

std::vector<uint8_t> FlashBlocks::read_block(const std::filesystem::path& dir, uint32_t block) const {
    if (!part_) {
        ByteRange r = range(block);
        std::vector<uint8_t> bytes(r.end - r.start);
        read_chip_file(dir / "nor.bin", r.start, bytes.data(), bytes.size());
        return bytes;
    }
    const NandPart& p = *part_;
    const uint64_t main = uint64_t{p.pages_per_block} * p.page_bytes,
                   spare = uint64_t{p.pages_per_block} * p.spare_bytes;
    std::vector<std::pair<unsigned, uint32_t>> parts = chip_blocks(block);
    std::vector<uint8_t> bytes(parts.size() * (main + spare));
    uint8_t* out = bytes.data();
    for (const auto& [chip, b] : parts) {
        read_chip_file(NandStorage::main_path(dir, chip), b * main, out, main);
        read_chip_file(NandStorage::oob_path(dir, chip), b * spare, out + main, spare);
        out += main + spare;
    }
    return bytes;
}

// The chip blocks of a device block: chip, the chip's block.
std::vector<std::pair<unsigned, uint32_t>> FlashBlocks::chip_blocks(uint32_t block) const {
    switch (part_->wiring) {
        case NandWiring::Single: return {{0, block}};
        case NandWiring::TwoSelects: return {{block / part_->blocks, block % part_->blocks}};
        case NandWiring::DoubledBus: return {{0, block}, {1, block}};
    }
    return {};
}

bool FlashBlocks::past_files(const std::filesystem::path& dir, uint32_t block) const {
    if (!part_) return false;
    const NandPart& p = *part_;
    std::error_code ec;
    for (const auto& [chip, b] : chip_blocks(block)) {
        uint64_t main = std::filesystem::file_size(NandStorage::main_path(dir, chip), ec);
        if (!ec && main > uint64_t{b} * p.pages_per_block * p.page_bytes) return false;
        uint64_t spare = std::filesystem::file_size(NandStorage::oob_path(dir, chip), ec);
        if (!ec && spare > uint64_t{b} * p.pages_per_block * p.spare_bytes) return false;
    }
    return true;
}

bool FlashBlocks::locked(const std::filesystem::path& dir, uint32_t block) const {
    if (part_) return false;
    uint8_t pair[2];
    read_chip_file(dir / "nor.locks", 2ull * block, pair, 2);
    // A missing file (P30, K3: lock bits do not survive power-off) reads erased.
    return (pair[0] != 0xFF && pair[0] != 0) || (pair[1] != 0xFF && pair[1] != 0);
}

std::vector<LogicalPiece> logical_pieces(const NandPart& part, const NandBlockMap& map) {
    std::vector<LogicalPiece> pieces;
    uint64_t logical = 0;
    for_each_logical_run(part, map, 0, nand_device_layout(part).logical_bytes(), [&](int64_t device, uint64_t run) {
        if (device >= 0) pieces.push_back({logical, uint64_t(device), run});
        logical += run;
    });
    std::sort(pieces.begin(), pieces.end(),
              [](const LogicalPiece& a, const LogicalPiece& b) { return a.device < b.device; });
    return pieces;
}

std::vector<ByteRange> logical_ranges(const std::vector<LogicalPiece>& pieces, ByteRange device) {
    std::vector<ByteRange> ranges;
    auto it = std::upper_bound(pieces.begin(), pieces.end(), device.start,
                               [](uint64_t at, const LogicalPiece& p) { return at < p.device; });
    if (it != pieces.begin()) --it;
    for (; it != pieces.end() && it->device < device.end; ++it) {
        uint64_t from = std::max(device.start, it->device), to = std::min(device.end, it->device + it->bytes);
        if (from < to) add_range(ranges, {it->logical + (from - it->device), it->logical + (to - it->device)});
    }
    return ranges;
}

void add_range(std::vector<ByteRange>& ranges, ByteRange range) {
    if (range.start >= range.end) return;
    auto it = std::lower_bound(ranges.begin(), ranges.end(), range,
                               [](const ByteRange& a, const ByteRange& b) { return a.end < b.start; });
    while (it != ranges.end() && it->start <= range.end) {
        range.start = std::min(range.start, it->start);
        range.end = std::max(range.end, it->end);
        it = ranges.erase(it);
    }
    ranges.insert(it, range);
}

}  // namespace sim
