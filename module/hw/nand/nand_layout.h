// How the system and the running system's flash driver lay their data out on
// a NAND board: the device as the controller addresses it (a doubled bus
// doubles pages and blocks, except that the first block is reached 8 bits
// wide on chip 0 alone), the relocation table page in the last page of block
// 0, the reserve pool at the top, the boot area, and the shared block map
// NAND_FLASH_BBMT. Used to build a new module's factory state, to stand in
// for the running system's driver, and by the inspection tools.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "module/hw/nand/nand_parts.h"

namespace sim {
class ChipFileReader;
}

namespace sim {

constexpr uint16_t kRelocTableHeader = 0x524E;  // "NR"
constexpr uint16_t kRelocEndMark = 0xFFFF;
constexpr uint32_t kBbmtMagic = 0x544D4242;  // "BBMT"
constexpr uint32_t kBbmtEntries = 8192;
constexpr uint32_t kBbmtBytes = 4 + 2 * kBbmtEntries;
constexpr const char* kBbmtObjectFile = "objects/NAND_FLASH_BBMT.map";
constexpr uint32_t kChipSelect1Boundary = 0x20000000;

struct NandDeviceLayout {
    uint32_t page_bytes;      // device page (both lanes of a doubled bus)
    uint32_t block_bytes;     // device block
    uint32_t blocks;          // device blocks, every chip select
    uint32_t reserve_blocks;  // the replacement pool at the top
    uint32_t table_offset;    // relocation table page, device offset
    uint32_t table_bytes;
    uint32_t table_chip_page;  // the same page on chip 0
    uint32_t boot_end;         // end of the boot area (its last page is not stored)
    uint64_t logical_bytes() const { return uint64_t{blocks - reserve_blocks} * block_bytes; }
};

NandDeviceLayout nand_device_layout(const NandPart& part);

struct RelocEntry {
    uint16_t logical;
    uint16_t physical;
};

struct RelocTable {
    bool header_ok = false;
    uint16_t second_word = 0;
    std::vector<RelocEntry> entries;  // up to the end mark, void ones (logical 0) included
    bool end_found = false;           // false: the page ran out before an end mark
};

RelocTable parse_reloc_table(const std::vector<uint8_t>& page);
// An empty table page as the factory leaves it: the header, then all 0xFF.
std::vector<uint8_t> empty_reloc_table_page(uint32_t bytes);

// The block map built from a table page as the running system's driver and
// the program build it: the magic, identity for every device block, then the
// live entries in table order. Entries naming blocks outside the device are
// left out.
std::vector<uint8_t> build_block_map(const RelocTable& table, uint32_t blocks);

// Device bytes straight from the flash files (no ECC, no faults), as the
// controller would address them: on a doubled bus the first block 8 bits
// wide on chip 0, the rest interleaved over both chips.
// With a reader, the files are read through it (opened once for many reads).
void read_device_bytes(const std::filesystem::path& dir, const NandPart& part, uint64_t offset, uint64_t length,
                       uint8_t* out, ChipFileReader* reader = nullptr);
std::vector<uint8_t> read_reloc_table_page(const std::filesystem::path& dir, const NandPart& part);

// Writes DIR/objects/NAND_FLASH_BBMT.map from the table page, as the running
// system's driver does at boot. False (and no file) when the page has no
// table header.
bool os_build_block_map(const std::filesystem::path& dir, const NandPart& part, std::string* error);

}  // namespace sim
