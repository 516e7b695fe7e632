// The compiler's coprocessor intrinsic: the only register the program reads
// is the main ID register of the current module's CPU.
#include "module/hw/cpu.h"
#include "module/hw/stop.h"
#include "module/module.h"
#include "platform/armintr.h"

unsigned int _MoveFromCoprocessor(unsigned int coprocessor, unsigned int opcode1, unsigned int crn, unsigned int crm,
                                  unsigned int opcode2) {
    sim::Module* m = sim::Module::current();
    if (!m || coprocessor != 15 || opcode1 != 0 || crn != 0 || crm != 0 || opcode2 != 0)
        sim::stop_module("unsupported coprocessor read p%u, %u, c%u, c%u, %u", coprocessor, opcode1, crn, crm, opcode2);
    return m->cpu().read_main_id();
}
