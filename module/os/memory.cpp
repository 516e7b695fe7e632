// Memory: the local heap (LocalAlloc/LocalFree) and reservations of address
// space (VirtualAlloc/VirtualFree), into which VirtualCopy commits physical
// windows (physical_windows.cpp).
#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "module/module.h"
#include "module/os/memory_internal.h"
#include "module/os/os_errors.h"
#include "platform/winbase.h"

namespace sim::os {
namespace {

// The module's RAM bounds one allocation (profile key os.alloc_limit).
constexpr uint32_t kDefaultAllocLimit = 0x4000000;
// Fresh memory that was not asked to be zeroed holds this pattern, so code
// that relies on zeroed memory shows up.
constexpr int kUninitialisedFill = 0xA5;
// Reservations are aligned like the kernel's allocation granularity.
constexpr uintptr_t kReserveGranularity = 0x10000;
constexpr DWORD kMaxReservation = 0x7FFF0000;

std::mutex& heap_mutex() {
    static std::mutex m;
    return m;
}

std::unordered_set<void*>& heap_blocks() {
    static std::unordered_set<void*> set;
    return set;
}

}  // namespace

std::mutex& address_space_mutex() {
    static std::mutex m;
    return m;
}

std::map<uintptr_t, Reservation>& reservations() {
    static std::map<uintptr_t, Reservation> map;
    return map;
}

}  // namespace sim::os

using namespace sim::os;

HLOCAL LocalAlloc(UINT flags, UINT bytes) {
    if ((flags & ~static_cast<UINT>(LMEM_ZEROINIT)) != 0 || bytes == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    sim::Module* module = sim::Module::current();
    uint32_t limit = module ? module->config().get_u32("os.alloc_limit", kDefaultAllocLimit) : kDefaultAllocLimit;
    if (bytes > limit) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    void* block = std::malloc(bytes);
    if (!block) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::memset(block, (flags & LMEM_ZEROINIT) ? 0 : kUninitialisedFill, bytes);
    std::lock_guard<std::mutex> lock(heap_mutex());
    heap_blocks().insert(block);
    return block;
}

HLOCAL LocalFree(HLOCAL memory) {
    if (!memory) return nullptr;
    {
        std::lock_guard<std::mutex> lock(heap_mutex());
        // A pointer the heap did not hand out (or a second free) is refused
        // instead of corrupting the heap.
        if (heap_blocks().erase(memory) == 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return memory;
        }
    }
    std::free(memory);
    return nullptr;
}

LPVOID VirtualAlloc(LPVOID address, DWORD size, DWORD allocationType, DWORD protect) {
    bool reserve_only = allocationType == MEM_RESERVE && protect == PAGE_NOACCESS;
    bool commit_memory = (allocationType & MEM_COMMIT) && (allocationType & ~(MEM_COMMIT | MEM_RESERVE)) == 0 &&
                         (protect == PAGE_READWRITE || protect == PAGE_READONLY);
    if (address || size == 0 || (!reserve_only && !commit_memory)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // No reservation reaches 2 GB: a 32-bit process has no room for one.
    if (size > kMaxReservation) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    uintptr_t length = (static_cast<uintptr_t>(size) + kPageSize - 1) & ~(kPageSize - 1);
    // Over-reserve, then trim to the granularity.
    void* raw =
        mmap(nullptr, length + kReserveGranularity, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (raw == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    uintptr_t base = (start + kReserveGranularity - 1) & ~(kReserveGranularity - 1);
    if (base > start) munmap(raw, base - start);
    uintptr_t tail = start + length + kReserveGranularity - (base + length);
    if (tail) munmap(reinterpret_cast<void*>(base + length), tail);
    if (commit_memory) {
        int prot = protect == PAGE_READWRITE ? PROT_READ | PROT_WRITE : PROT_READ;
        if (mprotect(reinterpret_cast<void*>(base), length, prot) != 0) {
            munmap(reinterpret_cast<void*>(base), length);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
    }
    std::lock_guard<std::mutex> lock(address_space_mutex());
    reservations()[base] = Reservation{length};
    return reinterpret_cast<LPVOID>(base);
}

namespace sim::os {

void release_memory() {
    {
        std::lock_guard<std::mutex> lock(heap_mutex());
        for (void* block : heap_blocks()) std::free(block);
        heap_blocks().clear();
    }
    std::lock_guard<std::mutex> lock(address_space_mutex());
    for (const auto& [base, reservation] : reservations()) {
        drop_windows_locked(base, reservation.size);
        munmap(reinterpret_cast<void*>(base), reservation.size);
    }
    reservations().clear();
}

}  // namespace sim::os

BOOL VirtualFree(LPVOID address, DWORD size, DWORD freeType) {
    uintptr_t base = reinterpret_cast<uintptr_t>(address);
    if (freeType != MEM_RELEASE || size != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(address_space_mutex());
    auto it = reservations().find(base);
    if (it == reservations().end()) {
        SetLastError(kErrorInvalidAddress);
        return FALSE;
    }
    drop_windows_locked(base, it->second.size);
    munmap(address, it->second.size);
    reservations().erase(it);
    return TRUE;
}
