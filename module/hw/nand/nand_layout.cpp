#include "module/hw/nand/nand_layout.h"

#include <algorithm>

#include "module/hw/folder_file.h"
#include "module/hw/nand/nand_storage.h"

namespace sim {

NandDeviceLayout nand_device_layout(const NandPart& part) {
    NandDeviceLayout l{};
    uint32_t lanes = part.wiring == NandWiring::DoubledBus ? 2 : 1;
    l.page_bytes = part.page_bytes * lanes;
    l.block_bytes = l.page_bytes * part.pages_per_block;
    l.blocks = part.blocks * (part.wiring == NandWiring::TwoSelects ? 2 : 1);
    l.reserve_blocks = l.blocks / 50;
    // The last page of block 0. On a doubled bus block 0 is reached 8 bits
    // wide on chip 0, so the table is chip 0's last page of its first chip
    // block, at device offset 0x3E00.
    l.table_bytes = part.page_bytes;
    l.table_chip_page = part.pages_per_block - 1;
    l.table_offset = l.table_chip_page * part.page_bytes;
    l.boot_end = l.block_bytes == 0x20000 ? 0x40000 : l.block_bytes;
    return l;
}

static uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

RelocTable parse_reloc_table(const std::vector<uint8_t>& page) {
    RelocTable t;
    if (page.size() < 4) return t;
    t.header_ok = le16(page.data()) == kRelocTableHeader;
    t.second_word = le16(page.data() + 2);
    for (size_t slot = 4; slot + 4 <= page.size(); slot += 4) {
        RelocEntry e{le16(&page[slot]), le16(&page[slot + 2])};
        if (e.logical == kRelocEndMark) {
            t.end_found = true;
            break;
        }
        t.entries.push_back(e);
    }
    return t;
}

std::vector<uint8_t> empty_reloc_table_page(uint32_t bytes) {
    std::vector<uint8_t> page(bytes, 0xFF);
    page[0] = kRelocTableHeader & 0xFF;
    page[1] = kRelocTableHeader >> 8;
    return page;
}

std::vector<uint8_t> build_block_map(const RelocTable& table, uint32_t blocks) {
    std::vector<uint8_t> map(kBbmtBytes, 0);
    auto put = [&](uint32_t index, uint32_t value) {
        map[4 + 2 * index] = static_cast<uint8_t>(value);
        map[5 + 2 * index] = static_cast<uint8_t>(value >> 8);
    };
    for (unsigned i = 0; i < 4; ++i) map[i] = static_cast<uint8_t>(kBbmtMagic >> (8 * i));
    for (uint32_t i = 0; i < blocks && i < kBbmtEntries; ++i) put(i, i);
    for (const RelocEntry& e : table.entries)
        if (e.logical != 0 && e.logical < blocks && e.physical < blocks) put(e.logical, e.physical);
    return map;
}

// Main-area bytes of one chip by the chip's own byte address; past the end of
// the file the chip is erased.
void read_device_bytes(const std::filesystem::path& dir, const NandPart& part, uint64_t offset, uint64_t length,
                       uint8_t* out, ChipFileReader* reader) {
    auto read_chip_bytes = [reader](const std::filesystem::path& dir, unsigned chip, uint64_t address, uint64_t length,
                                    uint8_t* out) {
        if (reader)
            reader->read(NandStorage::main_path(dir, chip), address, out, static_cast<size_t>(length));
        else
            read_chip_file(NandStorage::main_path(dir, chip), address, out, static_cast<size_t>(length));
    };
    NandDeviceLayout l = nand_device_layout(part);
    switch (part.wiring) {
        case NandWiring::Single: read_chip_bytes(dir, 0, offset, length, out); break;
        case NandWiring::TwoSelects:
            while (length > 0) {
                unsigned chip = offset >= kChipSelect1Boundary ? 1 : 0;
                uint64_t base = chip ? kChipSelect1Boundary : 0;
                uint64_t run = chip ? length : std::min<uint64_t>(length, kChipSelect1Boundary - offset);
                read_chip_bytes(dir, chip, offset - base, run, out);
                offset += run;
                out += run;
                length -= run;
            }
            break;
        case NandWiring::DoubledBus: {
            if (offset < l.block_bytes) {
                uint64_t run = std::min<uint64_t>(length, l.block_bytes - offset);
                read_chip_bytes(dir, 0, offset, run, out);
                offset += run;
                out += run;
                length -= run;
            }
            if (length == 0) break;
            // Byte d of the 16-bit view is byte d / 2 of chip d % 2.
            uint64_t first = offset / 2, last = (offset + length - 1) / 2;
            std::vector<uint8_t> lanes[2];
            for (unsigned chip = 0; chip < 2; ++chip) {
                lanes[chip].resize(last - first + 1);
                read_chip_bytes(dir, chip, first, lanes[chip].size(), lanes[chip].data());
            }
            for (uint64_t i = 0; i < length; ++i) out[i] = lanes[(offset + i) & 1][(offset + i) / 2 - first];
            break;
        }
    }
}

std::vector<uint8_t> read_reloc_table_page(const std::filesystem::path& dir, const NandPart& part) {
    NandDeviceLayout l = nand_device_layout(part);
    std::vector<uint8_t> page(l.table_bytes);
    read_device_bytes(dir, part, l.table_offset, l.table_bytes, page.data());
    return page;
}

bool os_build_block_map(const std::filesystem::path& dir, const NandPart& part, std::string* error) {
    RelocTable table = parse_reloc_table(read_reloc_table_page(dir, part));
    if (!table.header_ok) {
        if (error) *error = "the relocation table page has no header";
        return false;
    }
    std::vector<uint8_t> map = build_block_map(table, nand_device_layout(part).blocks);
    std::error_code ec;
    std::filesystem::create_directories(dir / "objects", ec);
    return replace_folder_file(dir, kBbmtObjectFile, {reinterpret_cast<const char*>(map.data()), map.size()}, error);
}

}  // namespace sim
