// Physical windows and the register accessors. READ_REGISTER_ULONG and
// WRITE_REGISTER_ULONG are the hot path of every flash operation (tens of
// millions of calls per update): each thread keeps the last window it used
// and checks it against a generation number that every change of the table
// bumps, so a hit takes no lock, allocates nothing and searches nothing.
#include <sys/mman.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "module/hw/cpu.h"
#include "module/module.h"
#include "module/os/memory_internal.h"
#include "module/os/os_errors.h"
#include "module/os/windows_table.h"
#include "platform/ceddk.h"
#include "platform/pkfuncs.h"
#include "platform/winbase.h"

namespace sim::os {
namespace {

struct Window {
    uintptr_t virtual_base;
    uintptr_t size;
    uint32_t physical_base;
    bool writable;
    bool via_hal;
    bool direct_readable;
};

std::vector<Window>& windows() {
    static std::vector<Window> list;
    return list;
}

std::atomic<uint64_t> generation{1};

struct WindowCache {
    uint64_t generation;
    uintptr_t virtual_base;
    uintptr_t size;
    uint32_t physical_base;
    bool writable;
};

thread_local WindowCache cache = {0, 0, 0, 0, false};

[[noreturn]] void data_abort(const char* what, uintptr_t address) {
    std::fprintf(stderr, "module: data abort: %s at virtual address 0x%llx\n", what,
                 static_cast<unsigned long long>(address));
    std::fflush(stderr);
    std::abort();
}

// Fills the cache with the window that holds address; stops the program
// when there is none, as a data abort would.
void load_window(uintptr_t address) {
    std::lock_guard<std::mutex> lock(address_space_mutex());
    for (const Window& w : windows()) {
        if (address - w.virtual_base < w.size) {
            cache = WindowCache{generation.load(std::memory_order_acquire), w.virtual_base, w.size, w.physical_base,
                                w.writable};
            return;
        }
    }
    data_abort("register access outside every physical window", address);
}

inline uint32_t physical_address(uintptr_t address, bool write) {
    if (address & 3) data_abort(write ? "unaligned register write" : "unaligned register read", address);
    if (cache.generation != generation.load(std::memory_order_acquire) || address - cache.virtual_base >= cache.size)
        load_window(address);
    if (write && !cache.writable) data_abort("register write to a read-only window", address);
    return cache.physical_base + static_cast<uint32_t>(address - cache.virtual_base);
}

inline Bus& module_bus(uintptr_t address) {
    Module* module = Module::current();
    if (!module) data_abort("register access with no module open", address);
    return module->bus();
}

// Maps the device's array file over the window when the whole window lies
// in one device that offers it.
bool map_direct_backing(uintptr_t destination, uint32_t physical, uint32_t size) {
    Module* module = Module::current();
    if (!module) return false;
    uint32_t first_offset, last_offset;
    Device* device = module->bus().decode(physical, &first_offset);
    Device* last = module->bus().decode(physical + size - 1, &last_offset);
    if (!device || device != last || last_offset - first_offset != size - 1) return false;
    std::optional<DirectBacking> backing = device->direct_backing(first_offset, size);
    if (!backing || backing->file_offset % kPageSize != 0) return false;
    void* mapped = mmap(reinterpret_cast<void*>(destination), size, PROT_READ, MAP_SHARED | MAP_FIXED, backing->fd,
                        static_cast<off_t>(backing->file_offset));
    return mapped != MAP_FAILED;
}

}  // namespace

void drop_windows_locked(uintptr_t base, uintptr_t size) {
    auto& list = windows();
    for (auto it = list.begin(); it != list.end();) {
        if (it->virtual_base - base < size)
            it = list.erase(it);
        else
            ++it;
    }
    generation.fetch_add(1, std::memory_order_acq_rel);
}

}  // namespace sim::os

using namespace sim::os;

namespace sim {

std::vector<CommittedWindow> committed_windows() {
    std::lock_guard<std::mutex> lock(address_space_mutex());
    std::vector<CommittedWindow> out;
    for (const Window& w : windows())
        out.push_back(CommittedWindow{w.virtual_base, w.physical_base, static_cast<uint32_t>(w.size), w.via_hal,
                                      w.direct_readable});
    return out;
}

bool commit_physical_pages(void* destination, DWORD physicalBy256, DWORD size, DWORD protect, bool via_hal,
                           DWORD* error) {
    uintptr_t start = reinterpret_cast<uintptr_t>(destination);
    uint64_t physical = static_cast<uint64_t>(physicalBy256) << 8;
    DWORD access = protect & ~static_cast<DWORD>(PAGE_PHYSICAL | PAGE_NOCACHE);
    // Only physical commits: whole pages, page-aligned on both sides, inside
    // the 32-bit physical space.
    if (!(protect & PAGE_PHYSICAL) || (access != PAGE_READWRITE && access != PAGE_READONLY) || size == 0 ||
        start % kPageSize != 0 || physical % kPageSize != 0) {
        *error = ERROR_INVALID_PARAMETER;
        return false;
    }
    uintptr_t length = (static_cast<uintptr_t>(size) + kPageSize - 1) & ~(kPageSize - 1);
    if (physical + length > 0x100000000ull) {
        *error = ERROR_INVALID_PARAMETER;
        return false;
    }
    std::lock_guard<std::mutex> lock(address_space_mutex());
    // The range must lie inside one reservation and overlap no window.
    auto& map = reservations();
    auto it = map.upper_bound(start);
    if (it == map.begin()) {
        *error = kErrorInvalidAddress;
        return false;
    }
    --it;
    if (start - it->first >= it->second.size || length > it->second.size - (start - it->first)) {
        *error = kErrorInvalidAddress;
        return false;
    }
    for (const Window& w : windows()) {
        if (start < w.virtual_base + w.size && w.virtual_base < start + length) {
            *error = kErrorInvalidAddress;
            return false;
        }
    }
    bool direct = map_direct_backing(start, static_cast<uint32_t>(physical), static_cast<uint32_t>(length));
    windows().push_back(
        Window{start, length, static_cast<uint32_t>(physical), access == PAGE_READWRITE, via_hal, direct});
    generation.fetch_add(1, std::memory_order_acq_rel);
    return true;
}

}  // namespace sim

BOOL VirtualCopy(LPVOID destination, LPVOID source, DWORD size, DWORD protect) {
    // From OS 6 on, committing physical pages is for kernel mode only.
    sim::Module* module = sim::Module::current();
    if (!module) {
        SetLastError(kErrorNotReady);
        return FALSE;
    }
    if (module->config().get_u32("os.major", 5) >= 6 && !sim::in_kernel_mode()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    DWORD error = 0;
    DWORD physicalBy256 = static_cast<DWORD>(reinterpret_cast<uintptr_t>(source));
    // The physical address / 256 is a 32-bit word; on a 64-bit host the pointer may hold more.
    if ((reinterpret_cast<uintptr_t>(source) >> 16 >> 16) != 0 ||
        !sim::commit_physical_pages(destination, physicalBy256, size, protect, false, &error)) {
        SetLastError(error ? error : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

ULONG READ_REGISTER_ULONG(volatile ULONG* registerAddress) {
    uintptr_t address = reinterpret_cast<uintptr_t>(registerAddress);
    uint32_t physical = physical_address(address, false);
    return module_bus(address).read32(physical);
}

void WRITE_REGISTER_ULONG(volatile ULONG* registerAddress, ULONG value) {
    uintptr_t address = reinterpret_cast<uintptr_t>(registerAddress);
    uint32_t physical = physical_address(address, true);
    module_bus(address).write32(physical, value);
}
