// Physical windows and the register accessors. READ_REGISTER_ULONG and
// WRITE_REGISTER_ULONG are the hot path of every flash operation (tens of
// millions of calls per update): each thread keeps the last window it used,
// with the device that decodes it, and checks it against a generation number
// that every change of the table and every module open or close bump, so a
// hit takes no lock, allocates nothing and searches nothing.
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "module/hw/cpu.h"
#include "module/hw/stop.h"
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

// A part of a window: all of it, or the run of it that one device decodes.
struct WindowCache {
    uint64_t generation;
    uintptr_t virtual_base;
    uintptr_t size;
    uint32_t physical_base;
    bool writable;
    Bus* bus;
    // The device that decodes the part, and its offset at the part's start;
    // null when no device does. The writer is null too in a read-only window.
    Device* device;
    Device* writer;
    uint32_t device_offset;
};

thread_local WindowCache cache = {0, 0, 0, 0, false, nullptr, nullptr, nullptr, 0};

[[noreturn]] void data_abort(const char* what, uintptr_t address) {
    stop_module("data abort: %s at virtual address 0x%llx", what, static_cast<unsigned long long>(address));
}

// Fills the cache with the part of the window around address that one
// device decodes (or the whole window, when no device decodes address);
// stops the program when no window holds address, or no module is open, as
// a data abort would.
void load_window(uintptr_t address) {
    std::lock_guard<std::mutex> lock(address_space_mutex());
    for (const Window& w : windows()) {
        if (address - w.virtual_base < w.size) {
            // Read before the module: a module that changes after it makes the cache stale at once.
            uint64_t current_generation = generation.load(std::memory_order_acquire);
            Module* module = Module::current();
            if (!module) data_abort("register access with no module open", address);
            uint32_t physical = w.physical_base + static_cast<uint32_t>(address - w.virtual_base);
            Bus::Span span = module->bus().span_at(physical);
            uint32_t first = w.physical_base, last = w.physical_base + static_cast<uint32_t>(w.size - 1);
            if (span.device) {
                first = std::max(first, span.first);
                last = std::min(last, span.last);
            }
            cache = WindowCache{current_generation,
                                w.virtual_base + (first - w.physical_base),
                                uintptr_t{last - first} + 1,
                                first,
                                w.writable,
                                &module->bus(),
                                span.device,
                                w.writable ? span.device : nullptr,
                                first - span.base};
            return;
        }
    }
    data_abort("register access outside every physical window", address);
}

// True when the cached window holds the aligned address and is current.
inline bool cache_hit(uintptr_t address) {
    return (address & 3) == 0 && address - cache.virtual_base < cache.size &&
           cache.generation == generation.load(std::memory_order_acquire);
}

inline uint32_t physical_address(uintptr_t address, bool write) {
    if (address & 3) data_abort(write ? "unaligned register write" : "unaligned register read", address);
    if (cache.generation != generation.load(std::memory_order_acquire) || address - cache.virtual_base >= cache.size)
        load_window(address);
    if (write && !cache.writable) data_abort("register write to a read-only window", address);
    return cache.physical_base + static_cast<uint32_t>(address - cache.virtual_base);
}

// Everything but a cache hit on a window in one device: a window to load, a
// window over several devices, an access that stops the program.
[[gnu::noinline]] uint32_t read_register_slow(uintptr_t address) {
    uint32_t physical = physical_address(address, false);
    if (!cache.device) return cache.bus->read32(physical);
    return cache.bus->read_at(cache.device, physical, cache.device_offset + (physical - cache.physical_base));
}

[[gnu::noinline]] void write_register_slow(uintptr_t address, uint32_t value) {
    uint32_t physical = physical_address(address, true);
    if (!cache.device) return cache.bus->write32(physical, value);
    cache.bus->write_at(cache.device, physical, cache.device_offset + (physical - cache.physical_base), value);
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

void forget_register_routes() { generation.fetch_add(1, std::memory_order_acq_rel); }

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
    if (!cache_hit(address) || !cache.device) return read_register_slow(address);
    uint32_t at = static_cast<uint32_t>(address - cache.virtual_base);
    return cache.bus->read_at(cache.device, cache.physical_base + at, cache.device_offset + at);
}

void WRITE_REGISTER_ULONG(volatile ULONG* registerAddress, ULONG value) {
    uintptr_t address = reinterpret_cast<uintptr_t>(registerAddress);
    if (!cache_hit(address) || !cache.writer) return write_register_slow(address, value);
    uint32_t at = static_cast<uint32_t>(address - cache.virtual_base);
    cache.bus->write_at(cache.writer, cache.physical_base + at, cache.device_offset + at, value);
}
