// The module's physical bus: decodes a physical address to the device mapped
// there. Every access costs one bus cycle of virtual time and can be traced.
// An access that no device decodes stops the program loudly, as a data abort
// would on the module.
#pragma once
#include <cstdint>
#include <vector>

#include "module/clock.h"
#include "module/hw/device.h"

namespace sim {

struct BusAccess {
    uint32_t phys;
    uint32_t value;
    bool write;
    uint64_t time_ns;
};

using BusTraceHook = void (*)(void* context, const BusAccess& access);

class Bus {
public:
    explicit Bus(VirtualClock& clock) : clock_(clock) {}

    void map(uint32_t base, uint32_t size, Device* device);
    // The device and offset for a physical address, or null.
    Device* decode(uint32_t phys, uint32_t* offset) const;

    uint32_t read32(uint32_t phys);
    void write32(uint32_t phys, uint32_t value);

    void set_trace(BusTraceHook hook, void* context) {
        trace_ = hook;
        trace_context_ = context;
    }
    void set_cycle_ns(uint32_t ns) { cycle_ns_ = ns; }

    uint64_t reads() const { return reads_; }
    uint64_t writes() const { return writes_; }

private:
    struct Range {
        uint32_t base;
        uint32_t size;
        Device* device;
    };
    const Range& find(uint32_t phys);

    VirtualClock& clock_;
    std::vector<Range> ranges_;
    const Range* last_ = nullptr;
    BusTraceHook trace_ = nullptr;
    void* trace_context_ = nullptr;
    uint32_t cycle_ns_ = 100;
    uint64_t reads_ = 0;
    uint64_t writes_ = 0;
};

}  // namespace sim
