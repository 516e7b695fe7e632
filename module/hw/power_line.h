// The module's power as the flash chips see it. At the start of every
// program and erase a chip asks whether the power goes during it; the one it
// goes in is left part-done (module/hw/cut_bits.h) and the device that drove
// it switches the power off, which ends the run. The module decides when the
// power goes (module/power_cut.h); a chip built without a power line never
// loses it.
#pragma once
#include <cstdint>

#include "module/hw/device_events.h"

namespace sim {

class PowerLine {
public:
    // A chip (unit) starts a program or erase at now covering [address,
    // address + length), busy for busy_ns. The units of one operation (both
    // NOR chips, both NAND lanes) call with the same now and address. True
    // when the power goes during it: the unit leaves it part-done (done(),
    // seed_for()), and the device that drove it calls power_off().
    virtual bool starts(Operation op, bool nand, uint64_t address, uint64_t length, uint32_t page_bytes, uint64_t now,
                        uint64_t busy_ns, unsigned unit) = 0;
    // The power goes in the operation that started last.
    virtual bool tripped() const = 0;
    // The share of its busy time the cut operation had run.
    virtual double done() const = 0;
    // The seed of the bits a unit's cut operation leaves.
    virtual uint64_t seed_for(unsigned unit) const = 0;
    // The power goes: the run ends here.
    [[noreturn]] virtual void power_off() = 0;

protected:
    ~PowerLine() = default;
};

}  // namespace sim
