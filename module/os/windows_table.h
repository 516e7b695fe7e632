// Physical windows: virtual ranges of a reservation whose pages were
// committed onto physical addresses (VirtualCopy with PAGE_PHYSICAL, or the
// HAL's commit request). Register accessors find the window that holds a
// pointer and hand the access to the module's bus. Pages of a window stay
// inaccessible to plain loads and stores, except where the device there
// offers its array as a file (the NOR array), which is mapped read-only.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/wintypes.h"

namespace sim {

struct CommittedWindow {
    uintptr_t virtual_base;
    uint32_t physical_base;
    uint32_t size;
    bool via_hal;          // committed by the HAL's kernel-mode request
    bool direct_readable;  // plain reads see the device's array file
};

// The register accessors keep, per thread, the window and the device they
// last used; a module opening or closing makes what they keep stale.
void forget_register_routes();

// The windows committed now, in the order they were committed.
std::vector<CommittedWindow> committed_windows();

// Commits [destination, destination + size) onto physical address
// physicalBy256 * 256 as VirtualCopy does, without the user-mode check.
// On failure returns false and sets *error to a platform error code.
bool commit_physical_pages(void* destination, DWORD physicalBy256, DWORD size, DWORD protect, bool via_hal,
                           DWORD* error);

}  // namespace sim
