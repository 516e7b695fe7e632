#include "module/flash_stats.h"

#include "module/hw/nor/nor_pair.h"

namespace sim {

FlashStats total_flash_stats(Module& module) {
    FlashStats stats = module.flash_stats();
    if (NorPair* nor = module.nor()) {
        NorCounters c = nor->counters();
        stats.bytes_erased += c.bytes_erased;
        stats.bytes_programmed += c.bytes_programmed;
    }
    return stats;
}

}  // namespace sim
