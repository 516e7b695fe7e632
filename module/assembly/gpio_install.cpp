// Maps the GPIO block for every processor and the MFPR block for the PXA3xx
// processors, with the pins as the last program on the module left them.
#include "module/assembly/installers.h"
#include "module/hw/cpu.h"
#include "module/hw/gpio/gpio_blocks.h"
#include "module/module.h"

namespace sim {

bool install_gpio(Module& module, std::string*) {
    auto pins = std::make_shared<GpioPins>(pin_processor_for_product(module.cpu().product()));
    std::filesystem::path state = module.dir() / kGpioStateFile;
    pins->load(state);  // no file yet: the pins are as after power-up
    GpioBlock* gpio = module.own(std::make_unique<GpioBlock>(pins, state, module.clock(), module.events()));
    module.bus().map(kGpioBase, kGpioWindowSize, gpio);
    if (pins->processor() != PinProcessor::Pxa27x) {
        MfprBlock* mfpr = module.own(std::make_unique<MfprBlock>(pins, state, module.clock(), module.events()));
        module.bus().map(kMfprBase, kGpioWindowSize, mfpr);
    }
    return true;
}

}  // namespace sim
