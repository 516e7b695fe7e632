// A small register device for tests: remembers writes by offset, answers
// reads with the last value written there (or the offset's own pattern).
#pragma once
#include <cstdint>
#include <map>

#include "module/hw/device.h"

namespace os_tests {

class ScratchRegisters : public sim::Device {
public:
    const char* name() const override { return "scratch registers"; }
    uint32_t read32(uint32_t offset) override {
        auto it = values.find(offset);
        return it != values.end() ? it->second : 0xA0000000u | offset;
    }
    void write32(uint32_t offset, uint32_t value) override { values[offset] = value; }
    std::map<uint32_t, uint32_t> values;
};

}  // namespace os_tests
