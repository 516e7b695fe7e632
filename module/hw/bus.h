// The module's physical bus: decodes a physical address to the device mapped
// there. Every access costs one bus cycle of virtual time and is an event
// (Read or Write) for whoever listens.
// An access that no device decodes stops the program loudly, as a data abort
// would on the module.
//
// The access path is inline: it runs tens of millions of times per update.
// A caller that has decoded the device once (a register window that lies in
// one device) hands it back with each access (read_at / write_at) and skips
// the decode; the cycle, the event and the device see the same access.
#pragma once
#include <cstdint>
#include <vector>

#include "module/hw/clock.h"
#include "module/hw/device.h"
#include "module/hw/device_events.h"

namespace sim {

class Bus {
public:
    Bus(VirtualClock& clock, EventSink& events) : clock_(clock), events_(events) {}

    void map(uint32_t base, uint32_t size, Device* device);
    // The device and offset for a physical address, or null.
    Device* decode(uint32_t phys, uint32_t* offset) const;
    // The device that decodes phys (null when none does), the physical
    // address of its offset 0, and the run of addresses [first, last] around
    // phys that it decodes too.
    struct Span {
        Device* device;
        uint32_t base;
        uint32_t first;
        uint32_t last;
    };
    Span span_at(uint32_t phys) const;

    uint32_t read32(uint32_t phys) {
        const Range& r = find(phys);
        return read_at(r.device, phys, phys - r.base);
    }
    void write32(uint32_t phys, uint32_t value) {
        const Range& r = find(phys);
        write_at(r.device, phys, phys - r.base, value);
    }
    // An access at phys, which device decodes at offset. With nobody
    // listening the device's call is the last thing done.
    uint32_t read_at(Device* device, uint32_t phys, uint32_t offset) {
        clock_.advance_ns(cycle_ns_);
        if (!events_.wants(EventKind::Read)) return device->read32(offset);
        return read_told(device, phys, offset);
    }
    void write_at(Device* device, uint32_t phys, uint32_t offset, uint32_t value) {
        clock_.advance_ns(cycle_ns_);
        if (!events_.wants(EventKind::Write)) return device->write32(offset, value);
        write_told(device, phys, offset, value);
    }

    void set_cycle_ns(uint32_t ns) { cycle_ns_ = ns; }

private:
    struct Range {
        uint32_t base;
        uint32_t size;
        Device* device;
    };
    const Range& find(uint32_t phys) {
        if (last_ && phys - last_->base < last_->size) return *last_;
        return find_slow(phys);
    }
    const Range& find_slow(uint32_t phys);
    // The accesses with their event: a read is told with the value it read,
    // a write before the device takes it.
    uint32_t read_told(Device* device, uint32_t phys, uint32_t offset);
    void write_told(Device* device, uint32_t phys, uint32_t offset, uint32_t value);
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
