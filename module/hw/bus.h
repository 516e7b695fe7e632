// The module's physical bus: decodes a physical address to the device mapped
// there. Every access costs one bus cycle of virtual time and is an event
// (Read or Write) for whoever listens.
// An access that no device decodes stops the program loudly, as a data abort
// would on the module.
#pragma once
#include <cstdint>
#include <vector>

#include "module/clock.h"
#include "module/hw/device.h"
#include "module/hw/device_events.h"

namespace sim {

class Bus {
public:
    Bus(VirtualClock& clock, EventSink& events) : clock_(clock), events_(events) {}

    void map(uint32_t base, uint32_t size, Device* device);
    // The device and offset for a physical address, or null.
    Device* decode(uint32_t phys, uint32_t* offset) const;

    uint32_t read32(uint32_t phys);
    void write32(uint32_t phys, uint32_t value);

    void set_cycle_ns(uint32_t ns) { cycle_ns_ = ns; }

private:
    struct Range {
        uint32_t base;
        uint32_t size;
        Device* device;
    };
    const Range& find(uint32_t phys);
    void emit(EventKind kind, uint32_t phys, uint32_t value) {
        events_.deliver(DeviceEvent{clock_.now_ns(), phys, value, 0, 0, EventSource::Bus, 0, kind, Operation::None,
                                    FaultKind::None});
    }

    VirtualClock& clock_;
    std::vector<Range> ranges_;
    const Range* last_ = nullptr;
    EventSink& events_;
    uint32_t cycle_ns_ = 100;
};

}  // namespace sim
