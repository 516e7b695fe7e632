// The GPIO block (0x40E00000, every processor) and the MFPR block
// (0x40E10000, PXA300 and PXA320) as devices on the bus, over one GpioPins
// state that every write saves to the module directory.
#pragma once
#include <filesystem>
#include <memory>

#include "module/hw/device.h"
#include "module/hw/gpio/gpio_pins.h"

namespace sim {

class GpioBlock : public Device {
public:
    GpioBlock(std::shared_ptr<GpioPins> pins, std::filesystem::path state_file)
        : pins_(std::move(pins)), state_file_(std::move(state_file)) {}
    const char* name() const override { return "GPIO"; }
    uint32_t read32(uint32_t offset) override { return pins_->gpio_read(offset & ~3u); }
    void write32(uint32_t offset, uint32_t value) override {
        pins_->gpio_write(offset & ~3u, value);
        pins_->save(state_file_);
    }
    GpioPins& pins() { return *pins_; }

private:
    std::shared_ptr<GpioPins> pins_;
    std::filesystem::path state_file_;
};

class MfprBlock : public Device {
public:
    MfprBlock(std::shared_ptr<GpioPins> pins, std::filesystem::path state_file)
        : pins_(std::move(pins)), state_file_(std::move(state_file)) {}
    const char* name() const override { return "MFPR"; }
    uint32_t read32(uint32_t offset) override { return pins_->mfpr_read(offset & ~3u); }
    void write32(uint32_t offset, uint32_t value) override {
        pins_->mfpr_write(offset & ~3u, value);
        pins_->save(state_file_);
    }

private:
    std::shared_ptr<GpioPins> pins_;
    std::filesystem::path state_file_;
};

constexpr const char* kGpioStateFile = "gpio-state";

}  // namespace sim
