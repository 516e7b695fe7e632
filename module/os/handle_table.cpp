// Handles are (slot + 1) * 4, like the kernel's: never null, never
// INVALID_HANDLE_VALUE, and clear of the predefined registry roots.
#include "module/os/handle_table.h"

#include <mutex>
#include <vector>

#include "platform/winbase.h"

namespace sim::os {

namespace {

constexpr size_t kMaxHandles = 4096;

std::mutex& table_mutex() {
    static std::mutex m;
    return m;
}

std::vector<std::shared_ptr<KernelObject>>& table() {
    static std::vector<std::shared_ptr<KernelObject>> slots;
    return slots;
}

bool slot_of(HANDLE handle, size_t* slot) {
    uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value == 0 || value % 4 != 0) return false;
    *slot = value / 4 - 1;
    return true;
}

thread_local DWORD last_error = 0;

}  // namespace

HANDLE add_handle(std::shared_ptr<KernelObject> object) {
    std::lock_guard<std::mutex> lock(table_mutex());
    auto& slots = table();
    size_t slot = 0;
    while (slot < slots.size() && slots[slot]) ++slot;
    if (slot == kMaxHandles) return nullptr;
    if (slot == slots.size()) slots.emplace_back();
    slots[slot] = std::move(object);
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>((slot + 1) * 4));
}

std::shared_ptr<KernelObject> find_handle(HANDLE handle) {
    size_t slot;
    if (!slot_of(handle, &slot)) return nullptr;
    std::lock_guard<std::mutex> lock(table_mutex());
    if (slot >= table().size()) return nullptr;
    return table()[slot];
}

void close_all_handles() {
    std::vector<std::shared_ptr<KernelObject>> dropped;  // destroyed outside the lock
    std::lock_guard<std::mutex> lock(table_mutex());
    dropped.swap(table());
}

bool remove_handle(HANDLE handle) {
    size_t slot;
    if (!slot_of(handle, &slot)) return false;
    std::shared_ptr<KernelObject> dropped;  // destroyed outside the lock
    std::lock_guard<std::mutex> lock(table_mutex());
    if (slot >= table().size() || !table()[slot]) return false;
    dropped = std::move(table()[slot]);
    return true;
}

}  // namespace sim::os

DWORD GetLastError(void) { return sim::os::last_error; }
void SetLastError(DWORD error) { sim::os::last_error = error; }

BOOL CloseHandle(HANDLE object) {
    if (!sim::os::remove_handle(object)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
