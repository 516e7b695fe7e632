// What the flash models of a module did since it was opened, for reports.
#pragma once
#include "module/module.h"

namespace sim {

// The module's own counters plus those the NOR pair keeps.
FlashStats total_flash_stats(Module& module);

}  // namespace sim
