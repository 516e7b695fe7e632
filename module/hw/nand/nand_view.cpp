#include "module/hw/nand/nand_view.h"

#include <algorithm>
#include <functional>
#include <map>

#include "module/hw/folder_file.h"
#include "module/hw/nand/nand_storage.h"

namespace sim {

NandBlockMap load_block_map(const std::filesystem::path& dir, const NandPart& part) {
    NandDeviceLayout l = nand_device_layout(part);
    NandBlockMap map;
    std::vector<uint8_t> bytes;
    std::string stored;
    if (read_folder_file(dir, kBbmtObjectFile, &stored, nullptr) == FolderRead::Done)
        bytes.assign(stored.begin(), stored.end());
    uint32_t magic = 0;
    for (size_t i = 0; i < 4 && i < bytes.size(); ++i) magic |= uint32_t{bytes[i]} << (8 * i);
    if (bytes.size() >= 4 + 2ull * l.blocks && magic == kBbmtMagic) {
        map.source = "shared map " + std::string(kBbmtObjectFile);
    } else {
        RelocTable table = parse_reloc_table(read_reloc_table_page(dir, part));
        if (table.header_ok) {
            bytes = build_block_map(table, l.blocks);
            map.source = "relocation table page (no shared map with its magic)";
        } else {
            bytes = build_block_map(RelocTable{}, l.blocks);
            map.source = "identity (no shared map, no relocation table)";
        }
    }
    map.physical.resize(l.blocks);
    for (uint32_t i = 0; i < l.blocks; ++i)
        map.physical[i] = static_cast<uint16_t>(bytes[4 + 2 * i] | bytes[5 + 2 * i] << 8);
    return map;
}

bool for_each_logical_run(const NandPart& part, const NandBlockMap& map, uint64_t offset, uint64_t length,
                          const std::function<void(int64_t device, uint64_t run)>& visit) {
    NandDeviceLayout l = nand_device_layout(part);
    if (offset > l.logical_bytes() || length > l.logical_bytes() - offset) return false;
    const uint64_t B = l.block_bytes, P = l.page_bytes, T = l.table_offset, R = l.table_bytes, L = l.boot_end;
    // A doubled bus stores nothing of the boot area past chip 0's first
    // block: that place would be the low lane of logical block 1.
    const uint64_t stored_end = part.wiring == NandWiring::DoubledBus ? T : L - P;
    auto delta = [&](uint64_t x) {
        uint64_t block = x / B;
        return (int64_t{map.physical[block]} - int64_t(block)) * int64_t(B);
    };
    while (length > 0) {
        uint64_t run = std::min(length, B - offset % B);
        int64_t device = int64_t(offset) + delta(offset);
        if (offset < L) {
            if (offset < T) {
                run = std::min(run, T - offset);
            } else if (offset < stored_end) {
                run = std::min(run, stored_end - offset);
                device = int64_t(offset + R) + delta(B);
            } else {
                run = std::min(run, L - offset);  // not stored: reads as erased
                device = -1;
            }
        }
        visit(device, run);
        offset += run;
        length -= run;
    }
    return true;
}

bool read_logical_view(const std::filesystem::path& dir, const NandPart& part, const NandBlockMap& map, uint64_t offset,
                       uint64_t length, uint8_t* out) {
    return for_each_logical_run(part, map, offset, length, [&](int64_t device, uint64_t run) {
        if (device < 0)
            std::fill(out, out + run, 0xFF);
        else
            read_device_bytes(dir, part, uint64_t(device), run, out);
        out += run;
    });
}

std::vector<NandBadBlock> find_bad_blocks(const std::filesystem::path& dir, const NandPart& part,
                                          const std::vector<uint32_t>& configured) {
    std::map<std::pair<unsigned, uint32_t>, NandBadBlock> found;
    auto device_block = [&](unsigned chip, uint32_t block) {
        return part.wiring == NandWiring::TwoSelects ? chip * part.blocks + block : block;
    };
    for (uint32_t n : configured) {
        unsigned chip = n / part.blocks;
        if (chip >= part.chip_count()) continue;
        NandBadBlock& b = found[{chip, n % part.blocks}];
        b = NandBadBlock{chip, n % part.blocks, device_block(chip, n % part.blocks), true, b.marked};
    }
    // Markers: a byte other than 0xFF at the marker place of page 0 or 1.
    const uint64_t page_spare = part.spare_bytes, block_spare = page_spare * part.pages_per_block;
    for (unsigned chip = 0; chip < part.chip_count(); ++chip) {
        std::string oob;
        if (read_folder_file(dir, NandStorage::oob_path(dir, chip).filename(), &oob, nullptr) != FolderRead::Done)
            continue;
        for (uint64_t block = 0; block * block_spare < oob.size() && block < part.blocks; ++block) {
            bool marked = false;
            for (uint64_t page = 0; page < 2; ++page) {
                uint64_t at = block * block_spare + page * page_spare + part.bad_block_byte;
                if (at < oob.size() && static_cast<uint8_t>(oob[at]) != 0xFF) marked = true;
            }
            if (!marked) continue;
            auto it = found.find({chip, uint32_t(block)});
            if (it != found.end())
                it->second.marked = true;
            else
                found[{chip, uint32_t(block)}] =
                    NandBadBlock{chip, uint32_t(block), device_block(chip, uint32_t(block)), false, true};
        }
    }
    std::vector<NandBadBlock> list;
    for (const auto& [key, b] : found) list.push_back(b);
    return list;
}

}  // namespace sim
