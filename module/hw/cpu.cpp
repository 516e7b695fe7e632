#include "module/hw/cpu.h"

#include <cstdio>
#include <cstdlib>

#include "module/module.h"
#include "platform/armintr.h"

namespace sim {

static thread_local bool kernel_mode = false;

bool in_kernel_mode() { return kernel_mode; }
void set_kernel_mode(bool on) { kernel_mode = on; }

uint32_t CpuModel::read_main_id() {
    if (os_major_ >= 6 && !kernel_mode) {
        std::fprintf(stderr, "module: undefined instruction: coprocessor 15 read in user mode on OS %u\n", os_major_);
        std::abort();
    }
    return main_id();
}

}  // namespace sim

unsigned int _MoveFromCoprocessor(unsigned int coprocessor, unsigned int opcode1, unsigned int crn, unsigned int crm,
                                  unsigned int opcode2) {
    sim::Module* m = sim::Module::current();
    if (!m || coprocessor != 15 || opcode1 != 0 || crn != 0 || crm != 0 || opcode2 != 0) {
        std::fprintf(stderr, "module: unsupported coprocessor read p%u, %u, c%u, c%u, %u\n", coprocessor, opcode1, crn,
                     crm, opcode2);
        std::abort();
    }
    return m->cpu().read_main_id();
}
