// The values come from the parts' query tables. The extended table carries
// its fixed header (signature, version, feature bits, lock mask, optimum
// voltages) only: the protection-register and burst fields describe parts
// of the chip this model leaves out and read 0. The K3's own table was not
// at hand: its timing, interface and lock fields follow the P30, its
// voltages the J3.
#include "module/hw/nor/nor_query.h"

namespace sim {

namespace {

struct QueryFamilyRow {
    NorFamily family;
    uint16_t extended_table;   // 0x15
    uint8_t voltages[4];       // 0x1B..0x1E: Vcc min/max, Vpp min/max (BCD)
    uint8_t times[8];          // 0x1F..0x26: typical word/buffer/block/chip, maximum factors
    uint16_t interface;        // 0x28
    uint16_t buffer_log2;      // 0x2A
    char minor_version;        // extended table version "1.x"
    uint32_t feature_support;  // extended table + 5
    uint16_t lock_mask;        // extended table + 0x0A
    uint8_t vcc_optimum;       // extended table + 0x0C
    uint8_t vpp_optimum;       // extended table + 0x0D
};

// family     ext     Vcc/Vpp                 typical, max factors                              if  buf  ver  features
// lock  Vcc   Vpp
// clang-format off
const QueryFamilyRow kQueryRows[] = {
    {NorFamily::J3, 0x031, {0x27, 0x36, 0x00, 0x00}, {0x08, 0x08, 0x0A, 0x00, 0x04, 0x04, 0x04, 0x00}, 2, 5, '1', 0x00A, 0x0001, 0x33, 0x00},
    {NorFamily::P30, 0x10A, {0x17, 0x20, 0x85, 0x95}, {0x08, 0x09, 0x0A, 0x00, 0x01, 0x01, 0x02, 0x00}, 1, 6, '4', 0x1E6, 0x0003, 0x18, 0x90},
    {NorFamily::K3, 0x031, {0x27, 0x36, 0x00, 0x00}, {0x08, 0x09, 0x0A, 0x00, 0x01, 0x01, 0x02, 0x00}, 1, 6, '3', 0x1E6, 0x0003, 0x30, 0x00},
};
// clang-format on

const QueryFamilyRow& row_for(NorFamily family) {
    for (const QueryFamilyRow& row : kQueryRows)
        if (row.family == family) return row;
    return kQueryRows[0];
}

void put16(std::vector<uint16_t>& table, uint32_t at, uint32_t value) {
    table[at] = value & 0xFF;
    table[at + 1] = (value >> 8) & 0xFF;
}

}  // namespace

std::vector<uint16_t> build_query_table(const NorChipConfig& config) {
    const QueryFamilyRow& row = row_for(config.family);
    std::vector<uint16_t> table(row.extended_table + 0x0E, 0);

    table[0x10] = 'Q';
    table[0x11] = 'R';
    table[0x12] = 'Y';
    put16(table, 0x13, 0x0001);  // Intel/Sharp extended command set
    put16(table, 0x15, row.extended_table);
    for (int i = 0; i < 4; ++i) table[0x1B + i] = row.voltages[i];
    for (int i = 0; i < 8; ++i) table[0x1F + i] = row.times[i];
    table[0x27] = static_cast<uint16_t>(config.query_size);
    put16(table, 0x28, row.interface);
    put16(table, 0x2A, row.buffer_log2);

    // Erase regions from the bottom: the parameter blocks, then the main blocks.
    uint32_t main_blocks = config.block_count() - config.parameter_blocks;
    uint32_t at = 0x2D;
    uint16_t regions = 0;
    if (config.parameter_blocks) {
        put16(table, at, config.parameter_blocks - 1);
        put16(table, at + 2, config.parameter_block_bytes / 256);
        at += 4;
        ++regions;
    }
    put16(table, at, main_blocks - 1);
    put16(table, at + 2, config.main_block_bytes / 256);
    ++regions;
    table[0x2C] = regions;

    uint32_t e = row.extended_table;
    table[e] = 'P';
    table[e + 1] = 'R';
    table[e + 2] = 'I';
    table[e + 3] = '1';
    table[e + 4] = static_cast<uint16_t>(row.minor_version);
    put16(table, e + 5, row.feature_support & 0xFFFF);
    put16(table, e + 7, row.feature_support >> 16);
    table[e + 9] = 0x01;  // program after erase suspend
    put16(table, e + 0x0A, row.lock_mask);
    table[e + 0x0C] = row.vcc_optimum;
    table[e + 0x0D] = row.vpp_optimum;
    return table;
}

}  // namespace sim
