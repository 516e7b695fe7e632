// A device model on the module's physical bus. The bus hands it 32-bit
// accesses at offsets inside its own window; it knows nothing of the bus.
#pragma once
#include <cstdint>
#include <optional>

namespace sim {

// A file region that holds the device's array contents byte for byte, so a
// read-only view of it can be mapped where the system maps the device. Used
// for the NOR array, whose read path is a plain memory copy in read-array mode.
struct DirectBacking {
    int fd;
    uint64_t file_offset;
};

class Device {
public:
    virtual ~Device() = default;
    virtual const char* name() const = 0;
    virtual uint32_t read32(uint32_t offset) = 0;
    virtual void write32(uint32_t offset, uint32_t value) = 0;
    // The region [offset, offset + size) as a file view, if the device has one
    // and it is currently readable as plain memory.
    virtual std::optional<DirectBacking> direct_backing(uint32_t /*offset*/, uint32_t /*size*/) { return std::nullopt; }
};

}  // namespace sim
