// The GPIO block (0x40E00000, every processor) and the MFPR block
// (0x40E10000, PXA300 and PXA320) as devices on the bus, over one GpioPins
// state that every write saves to the module directory. A write that changes
// a pin's function, direction or level is a PinChanged event for that pin.
#pragma once
#include <filesystem>
#include <memory>

#include "module/hw/clock.h"
#include "module/hw/device.h"
#include "module/hw/device_events.h"
#include "module/hw/gpio/gpio_pins.h"

namespace sim {

class PinBlock : public Device {
public:
    PinBlock(std::shared_ptr<GpioPins> pins, std::filesystem::path state_file, const VirtualClock& clock,
             EventSink& events, EventSource source)
        : pins_(std::move(pins)), state_file_(std::move(state_file)), clock_(clock), events_(events), source_(source) {}
    GpioPins& pins() { return *pins_; }

protected:
    using RegisterWrite = void (GpioPins::*)(uint32_t offset, uint32_t value);
    void write(RegisterWrite write, uint32_t offset, uint32_t value);
    std::shared_ptr<GpioPins> pins_;

private:
    std::filesystem::path state_file_;
    const VirtualClock& clock_;
    EventSink& events_;
    EventSource source_;
};

class GpioBlock : public PinBlock {
public:
    GpioBlock(std::shared_ptr<GpioPins> pins, std::filesystem::path state_file, const VirtualClock& clock,
              EventSink& events)
        : PinBlock(std::move(pins), std::move(state_file), clock, events, EventSource::Gpio) {}
    const char* name() const override { return "GPIO"; }
    uint32_t read32(uint32_t offset) override { return pins_->gpio_read(offset & ~3u); }
    void write32(uint32_t offset, uint32_t value) override { write(&GpioPins::gpio_write, offset & ~3u, value); }
};

class MfprBlock : public PinBlock {
public:
    MfprBlock(std::shared_ptr<GpioPins> pins, std::filesystem::path state_file, const VirtualClock& clock,
              EventSink& events)
        : PinBlock(std::move(pins), std::move(state_file), clock, events, EventSource::Mfpr) {}
    const char* name() const override { return "MFPR"; }
    uint32_t read32(uint32_t offset) override { return pins_->mfpr_read(offset & ~3u); }
    void write32(uint32_t offset, uint32_t value) override { write(&GpioPins::mfpr_write, offset & ~3u, value); }
};

constexpr const char* kGpioStateFile = "gpio-state";

}  // namespace sim
