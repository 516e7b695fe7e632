#include "module/hw/bus.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "module/hw/stop.h"

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

Bus::Span Bus::span_at(uint32_t phys) const {
    // The first range that decodes an address answers it: the ranges before
    // the one that answers phys cut its run short.
    uint32_t first = 0, last = 0xFFFFFFFF;
    for (const Range& r : ranges_) {
        if (phys - r.base < r.size)
            return Span{r.device, r.base, std::max(first, r.base), std::min<uint32_t>(last, r.base + (r.size - 1))};
        if (r.size == 0) continue;
        if (r.base > phys)
            last = std::min(last, r.base - 1);
        else
            first = std::max(first, r.base + (r.size - 1) + 1);
    }
    return Span{nullptr, 0, phys, phys};
}

uint32_t Bus::read_told(Device* device, uint32_t phys, uint32_t offset) {
    uint32_t value = device->read32(offset);
    emit(EventKind::Read, phys, value);
    return value;
}

void Bus::write_told(Device* device, uint32_t phys, uint32_t offset, uint32_t value) {
    emit(EventKind::Write, phys, value);
    device->write32(offset, value);
}

const Bus::Range& Bus::find_slow(uint32_t phys) {
    for (const Range& r : ranges_) {
        if (phys - r.base < r.size) {
            last_ = &r;
            return r;
        }
    }
    stop_module("data abort: no device at physical address 0x%08x", phys);
}

}  // namespace sim
