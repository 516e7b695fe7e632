// Shared between the reservation calls and the physical windows.
#pragma once
#include <cstdint>
#include <map>
#include <mutex>

namespace sim::os {

constexpr uintptr_t kPageSize = 0x1000;

struct Reservation {
    uintptr_t size;
};

// Guards the reservations and the window table (not the register fast path).
std::mutex& address_space_mutex();
std::map<uintptr_t, Reservation>& reservations();
// Drops the windows inside [base, base + size); address_space_mutex held.
void drop_windows_locked(uintptr_t base, uintptr_t size);

// What a power loss takes: every heap block, reservation and window; every
// mapped view.
void release_memory();
void release_views();

}  // namespace sim::os
