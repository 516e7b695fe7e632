// Waitable objects inside the OS layer: WaitForSingleObject hands a mutex
// to its own wait.
#pragma once
#include <memory>

#include "module/os/handle_table.h"

namespace sim::os {

DWORD wait_for_mutex(const std::shared_ptr<KernelObject>& mutex, DWORD milliseconds);

}  // namespace sim::os
