// The pins of the module's processor as the GPIO block and the
// multi-function pin registers (MFPR) leave them: per GPIO a direction, an
// output latch and an input level, per pin a function. PXA27x: the function
// sits in the GAFR registers of the GPIO block. PXA300 / PXA320: one MFPR
// per pin at 0x40E10000 + an offset from the processor's table, bits 2:0 the
// function; pins 128-139 name the second pins GPIOn_2 of GPIO 0-11, with an
// MFPR of their own and the direction and level of GPIO n.
//
// The state persists in DIR/gpio-state (one "offset value" line per register
// that is not 0), so a later process on the module sees the pins as the
// last one left them. Not modelled: edge detection (the edge registers are
// kept as written), interrupts, the pins' electrical settings in the MFPR
// (kept as written), external levels on inputs (they read 0).
#pragma once
#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace sim {

enum class PinProcessor : uint8_t { Pxa27x, Pxa300, Pxa320 };

PinProcessor pin_processor_for_product(uint32_t product);  // 2 PXA320, 8 PXA300, else PXA27x

constexpr uint32_t kGpioBase = 0x40E00000;
constexpr uint32_t kMfprBase = 0x40E10000;
constexpr uint32_t kGpioWindowSize = 0x1000;

struct PinState {
    uint32_t function;
    bool output;
    bool level;
};

class GpioPins {
public:
    explicit GpioPins(PinProcessor processor) : processor_(processor) {}
    PinProcessor processor() const { return processor_; }

    // Pins 0-127 on a PXA27x, 0-138 on a PXA300, 0-139 on a PXA320.
    bool pin_exists(unsigned pin) const;
    PinState pin(unsigned pin) const;
    // Offset of a pin's MFPR from 0x40E10000 (PXA3xx only).
    std::optional<uint32_t> mfpr_offset(unsigned pin) const;

    // Register accesses at offsets inside the GPIO block and the MFPR block.
    uint32_t gpio_read(uint32_t offset) const;
    void gpio_write(uint32_t offset, uint32_t value);
    uint32_t mfpr_read(uint32_t offset) const;
    void mfpr_write(uint32_t offset, uint32_t value);

    // The state file (gpio-state in the module folder), never through a
    // link; load is false when there is none to read.
    bool load(const std::filesystem::path& file);
    void save(const std::filesystem::path& file) const;

private:
    bool pxa3xx() const { return processor_ != PinProcessor::Pxa27x; }
    PinProcessor processor_;
    std::array<uint32_t, 4> direction_{};
    std::array<uint32_t, 4> latch_{};
    std::array<uint32_t, 4> input_{};
    std::array<uint32_t, 8> gafr_{};
    std::map<uint32_t, uint32_t> edge_registers_;  // GRER, GFER, GEDR as written
    std::map<uint32_t, uint32_t> mfpr_;
};

}  // namespace sim
