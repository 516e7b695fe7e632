// The NAND parts a module can carry, one row per read-ID code, and the board
// wiring that goes with each: a single 8-bit chip, two 8-bit chips side by
// side on a 16-bit bus (the "doubled bus"), or one chip on each of the
// controller's two chip selects. Geometry that follows from a row (address
// cycles, sizes) is derived here, never typed twice.
#pragma once
#include <cstdint>

namespace sim {

enum class NandWiring : uint8_t {
    Single,      // one chip on chip select 0
    DoubledBus,  // chip 0 on the low byte lane, chip 1 on the high lane, both on chip select 0
    TwoSelects,  // chip 0 on chip select 0, chip 1 on chip select 1
};

struct NandPart {
    uint16_t id;  // maker code | device code << 8, as the first read-ID word's low half
    const char* part;
    uint8_t id_bytes[5];
    uint8_t id_length;
    uint32_t page_bytes;
    uint32_t spare_bytes;
    uint32_t pages_per_block;
    uint32_t blocks;  // per chip
    uint32_t read_ns;
    uint32_t program_ns;
    uint32_t erase_ns;
    uint32_t program_max_ns;  // the datasheet's maximum tPROG and tBERS
    uint32_t erase_max_ns;
    // Partial-program limit (NOP): programs of a page's main and of its
    // spare area a block erase allows.
    uint8_t nop_main;
    uint8_t nop_spare;
    uint32_t bad_block_byte;  // spare byte of the factory bad-block marker (pages 0 and 1)
    NandWiring wiring;
    // The controller as the running system's flash driver leaves it
    // configured for this part: NDCR (ND_RUN clear), NDTR0CS0, NDTR1CS0.
    uint32_t system_ndcr;
    uint32_t system_ndtr0;
    uint32_t system_ndtr1;

    bool small_page() const { return page_bytes == 512; }
    uint32_t pages() const { return pages_per_block * blocks; }
    uint32_t raw_page_bytes() const { return page_bytes + spare_bytes; }
    uint32_t column_cycles() const { return small_page() ? 1 : 2; }
    // Enough whole bytes for the chip's page numbers.
    uint32_t row_cycles() const {
        uint32_t bits = 0;
        while ((1u << bits) < pages()) ++bits;
        return (bits + 7) / 8;
    }
    uint32_t chip_count() const { return wiring == NandWiring::Single ? 1 : 2; }
};

// The row for a read-ID code, or null.
const NandPart* find_nand_part(uint32_t id);

constexpr uint32_t kNandResetNs = 5000;  // tRST of a chip that was ready

}  // namespace sim
