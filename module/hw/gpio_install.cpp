// Placeholder until the GPIO and pin-function models exist.
#include "module/module.h"

namespace sim {

bool install_gpio(Module&, std::string*) { return true; }

}  // namespace sim
