#include "module/hw/cpu.h"

#include "module/hw/stop.h"

namespace sim {

static thread_local bool kernel_mode = false;

bool in_kernel_mode() { return kernel_mode; }
void set_kernel_mode(bool on) { kernel_mode = on; }

uint32_t CpuModel::read_main_id() {
    if (os_major_ >= 6 && !kernel_mode)
        stop_module("undefined instruction: coprocessor 15 read in user mode on OS %u", os_major_);
    return main_id();
}

}  // namespace sim
