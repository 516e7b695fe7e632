#include "bench/physical_limit.h"

#include <algorithm>

#include "module/assembly/nand_profile.h"
#include "module/assembly/nor_profile.h"

namespace bench {
namespace {

// Units of size unit_bytes (aligned to it) that [start, end) touches.
uint64_t units_touched(uint64_t start, uint64_t end, uint64_t unit_bytes) {
    return end <= start ? 0 : (end - 1) / unit_bytes - start / unit_bytes + 1;
}

uint64_t nor_limit_ns(const sim::NorPairConfig& pair, uint64_t cycle_ns, uint64_t start, uint64_t end) {
    const sim::NorChipConfig& chip = pair.chips[0];
    uint64_t ns = 0;
    // Blocks: two chip blocks side by side, erased together.
    for (uint64_t at = start; at < end;) {
        uint32_t block = pair.block_at(static_cast<uint32_t>(at));
        bool parameter = block < chip.parameter_blocks;
        uint64_t block_bytes = 2ull * (parameter ? chip.parameter_block_bytes : chip.main_block_bytes);
        uint64_t erase_ns = parameter ? chip.timings.parameter_erase_ns : chip.timings.block_erase_ns;
        ns += std::min(erase_ns, block_bytes / 4 * cycle_ns);
        at = at / block_bytes * block_bytes + block_bytes;
    }
    // Programs: both chips' write buffers side by side, filled at once.
    uint64_t buffer_bytes = 2ull * 2 * chip.buffer_words;
    ns += units_touched(start, end, buffer_bytes) * chip.timings.buffer_program_ns;
    return ns;
}

uint64_t nand_limit_ns(const sim::NandBoardConfig& board, uint64_t cycle_ns, uint64_t start, uint64_t end) {
    const sim::NandPart& part = *board.part;
    const sim::NandChipConfig& chip = board.chips[0];
    // On the doubled bus a device page is both chips' pages, programmed at once.
    uint64_t lanes = part.wiring == sim::NandWiring::DoubledBus ? 2 : 1;
    uint64_t page_bytes = lanes * part.page_bytes;
    uint64_t block_bytes = page_bytes * part.pages_per_block;
    uint64_t read_block_ns = part.pages_per_block * (chip.read_ns + page_bytes / 4 * cycle_ns);
    return units_touched(start, end, block_bytes) * std::min<uint64_t>(chip.erase_ns, read_block_ns) +
           units_touched(start, end, page_bytes) * chip.program_ns;
}

}  // namespace

uint64_t physical_limit_ns(const sim::Config& profile, uint32_t start, uint32_t bytes, std::string* error) {
    uint64_t cycle_ns = profile.get_u32("bus.cycle_ns", 100);
    uint64_t end = uint64_t{start} + bytes;
    // Every data word crosses the bus once.
    uint64_t transfer_ns = (bytes + 3) / 4 * cycle_ns;
    if (profile.get_string("flash.kind", "nor") == "nand") {
        sim::NandBoardConfig board;
        if (!sim::nand_config_from_profile(profile, &board, error)) return 0;
        return nand_limit_ns(board, cycle_ns, start, end) + transfer_ns;
    }
    sim::NorPairConfig pair;
    if (!sim::nor_config_from_profile(profile, &pair, error)) return 0;
    return nor_limit_ns(pair, cycle_ns, start, end) + transfer_ns;
}

}  // namespace bench
