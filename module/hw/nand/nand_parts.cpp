#include "module/hw/nand/nand_parts.h"

namespace sim {

// Busy times are the datasheets' typical values (tR: the maximum, the only
// one given) and their maxima; profiles may override them.
// clang-format off
static const NandPart kParts[] = {
    // id      part             ID bytes                      len  page  spare ppb blocks tR     tPROG   tBERS    max tPROG tBERS NOP     BB wiring                   system NDCR NDTR0CS0 NDTR1CS0
    {0x75EC, "K9F5608U0D",    {0xEC, 0x75, 0xA5, 0xBD, 0x00}, 4, 512,  16, 32, 2048, 15000, 200000, 2000000, 500000, 3000000, 1, 2, 5, NandWiring::DoubledBus, 0x080A1FFF, 0x80B0B, 0x06240061},
    {0x76EC, "K9F1208U0C",    {0xEC, 0x76, 0x5A, 0x3F, 0x00}, 4, 512,  16, 32, 4096, 15000, 200000, 2000000, 500000, 3000000, 1, 2, 5, NandWiring::DoubledBus, 0x080C1FFF, 0x80B0B, 0x06240061},
    {0xD3EC, "K9K8G08U0A",    {0xEC, 0xD3, 0x51, 0x95, 0x58}, 5, 2048, 64, 64, 8192, 20000, 200000, 1500000, 700000, 2000000, 4, 4, 0, NandWiring::Single,     0x018DDFFF, 0x2090A, 0x082C0061},
    {0xF1EC, "K9F1G08U0B",    {0xEC, 0xF1, 0x00, 0x95, 0x40}, 5, 2048, 64, 64, 1024, 25000, 200000, 1500000, 700000, 2000000, 4, 4, 0, NandWiring::Single,     0x010DDFFF, 0x3090B, 0x0F4E0091},
    {0xDCAD, "HY27UF084G2B",  {0xAD, 0xDC, 0x10, 0x95, 0x54}, 5, 2048, 64, 64, 4096, 25000, 200000, 1500000, 700000, 2000000, 4, 4, 0, NandWiring::TwoSelects, 0x010CDFFF, 0x2090A, 0x0A340061},
};
// clang-format on

const NandPart* find_nand_part(uint32_t id) {
    for (const NandPart& p : kParts)
        if (p.id == id) return &p;
    return nullptr;
}

}  // namespace sim
