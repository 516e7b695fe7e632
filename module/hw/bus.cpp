#include "module/hw/bus.h"

#include <cstdio>
#include <cstdlib>

namespace sim {

void Bus::map(uint32_t base, uint32_t size, Device* device) {
    ranges_.push_back(Range{base, size, device});
    last_ = nullptr;
}

Device* Bus::decode(uint32_t phys, uint32_t* offset) const {
    for (const Range& r : ranges_) {
        if (phys - r.base < r.size) {
            if (offset) *offset = phys - r.base;
            return r.device;
        }
    }
    return nullptr;
}

const Bus::Range& Bus::find(uint32_t phys) {
    if (last_ && phys - last_->base < last_->size) return *last_;
    for (const Range& r : ranges_) {
        if (phys - r.base < r.size) {
            last_ = &r;
            return r;
        }
    }
    std::fprintf(stderr, "module: data abort: no device at physical address 0x%08x\n", phys);
    std::abort();
}

uint32_t Bus::read32(uint32_t phys) {
    const Range& r = find(phys);
    clock_.advance_ns(cycle_ns_);
    uint32_t value = r.device->read32(phys - r.base);
    if (events_.wants(EventKind::Read)) emit(EventKind::Read, phys, value);
    return value;
}

void Bus::write32(uint32_t phys, uint32_t value) {
    const Range& r = find(phys);
    clock_.advance_ns(cycle_ns_);
    if (events_.wants(EventKind::Write)) emit(EventKind::Write, phys, value);
    r.device->write32(phys - r.base, value);
}

}  // namespace sim
