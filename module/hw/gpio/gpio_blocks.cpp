#include "module/hw/gpio/gpio_blocks.h"

#include <vector>

namespace sim {

namespace {

uint32_t packed(const PinState& s) { return s.function | (s.output ? kPinOutput : 0) | (s.level ? kPinHigh : 0); }

}  // namespace

void PinBlock::write(RegisterWrite write, uint32_t offset, uint32_t value) {
    if (!events_.wants(EventKind::PinChanged)) {
        ((*pins_).*write)(offset, value);
        pins_->save(state_file_);
        return;
    }
    std::vector<uint32_t> before;
    for (unsigned pin = 0; pins_->pin_exists(pin); ++pin) before.push_back(packed(pins_->pin(pin)));
    ((*pins_).*write)(offset, value);
    pins_->save(state_file_);
    for (unsigned pin = 0; pin < before.size(); ++pin) {
        uint32_t now = packed(pins_->pin(pin));
        if (now != before[pin])
            events_.deliver(DeviceEvent{clock_.now_ns(), pin, now, 0, 0, source_, 0, EventKind::PinChanged,
                                        Operation::None, FaultKind::None});
    }
}

}  // namespace sim
