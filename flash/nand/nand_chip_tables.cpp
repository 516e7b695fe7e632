// The chip tables of the NAND controller driver. Row 0 talks to a chip that
// is not identified yet; rows 1 to 5 are the five known parts.
#include "flash/nand/dfc_driver.h"

// Timings in nanoseconds; bit fields hold NDCR bits in place; commands hold the
// first byte in bits 7:0 and the second in bits 15:8. ID: the read-ID word's
// low 16 bits (maker in bits 7:0, device in 15:8) that identify the row;
// clock: the controller's clock in MHz once the chip is identified (0 keeps
// it); pin 73: the small-page parts need the pin driven high.
// clang-format off
const DWORD NandChipInfo[NAND_CHIP_ROWS][kChipFieldCount] = {
    // tCH tCS  tWH  tWP  tRH  tRP  tR     tWHR tAR  NCSX      RA_START PAGE_SZ    RD_ID_CNT PG_PER_BLK cycles erase further read    spare read ID  reset program 2nd prog erase   status blocks ID      clock pin 73
    {100, 100, 100, 100, 100, 100, 20000, 100, 100, 0,        0,       0,         0x20000, 0,      0,  0,  0,  0,      0,   0x90, 0xFF, 0,      0,      0,      0x70, 2048, 0x0000, 0,   0},  // not identified
    {10,  0,   15,  35,  15,  35,  15120, 60,  10,  0,        0,       0,         0x20000, 0,      3,  2,  0,  0x00,   0x50, 0x90, 0xFF, 0x1080, 0x8A00, 0xD060, 0x70, 2048, 0x75EC, 0,   1},  // 0x75EC
    {10,  0,   15,  35,  15,  35,  15120, 60,  10,  0,        0,       0,         0x40000, 0,      4,  3,  0,  0x00,   0x50, 0x90, 0xFF, 0x1080, 0x8A00, 0xD060, 0x70, 4096, 0x76EC, 0,   1},  // 0x76EC
    {5,   20,  10,  12,  10,  22,  20120, 60,  10,  0x800000, 0x8000,  0x1000000, 0x50000, 0x4000, 5,  3,  0,  0x3000, 0,    0x90, 0xFF, 0x1080, 0x1085, 0xD060, 0x70, 8192, 0xD3EC, 0,   0},  // 0xD3EC
    {5,   20,  10,  12,  10,  22,  25120, 60,  10,  0,        0x8000,  0x1000000, 0x50000, 0x4000, 4,  2,  0,  0x3000, 0,    0x90, 0xFF, 0x1080, 0x1085, 0xD060, 0x70, 1024, 0xF1EC, 156, 0},  // 0xF1EC
    {5,   25,  10,  15,  10,  25,  25120, 60,  15,  0,        0x8000,  0x1000000, 0x40000, 0x4000, 5,  3,  0,  0x3000, 0,    0x90, 0xFF, 0x1080, 0x1085, 0xD060, 0x70, 8192, 0xDCAD, 0,   0},  // 0xDCAD
};
// clang-format on

// Fields 2 and 3 are the live ECC and spare switches of the current row, so
// this table is written while the driver runs.
// clang-format off
DWORD NandBusConfig[NAND_CHIP_ROWS][kBusFieldCount] = {
    // further ECC_EN SPARE_EN further DWIDTH_C   ND_ARB_EN chip-select 1 boundary
    {0,       0,     0,       0,      0x8000000, 0x1000,   0xFFFFFFFF},  // not identified
    {0,       0,     0,       0,      0x8000000, 0x1000,   0xFFFFFFFF},  // 0x75EC, doubled bus
    {0,       0,     0,       0,      0x8000000, 0x1000,   0xFFFFFFFF},  // 0x76EC, doubled bus
    {0,       0,     0,       0,      0,         0x1000,   0xFFFFFFFF},  // 0xD3EC
    {0,       0,     0,       0,      0,         0x1000,   0xFFFFFFFF},  // 0xF1EC
    {0,       0,     0,       0,      0,         0x1000,   0x20000000},  // 0xDCAD, two halves of 512 MB
};
// clang-format on
