#include "module/program_state.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Defined by the linker for sections whose names are identifiers; null
// where no object has such a section.
extern "C" {
extern char __start_updatetool_state_data[] __attribute__((weak));
extern char __stop_updatetool_state_data[] __attribute__((weak));
extern char __start_updatetool_state_bss[] __attribute__((weak));
extern char __stop_updatetool_state_bss[] __attribute__((weak));
}

namespace sim {
namespace {

std::vector<char>& kept_data() {
    static std::vector<char> bytes;
    return bytes;
}
bool kept = false;

// The sections hold the redzones a sanitizer puts around each variable:
// their bytes are copied and cleared here unchecked, as a loader would. On
// x86-64 one string instruction does it (a sanitizer would check memcpy and
// memset); elsewhere a word at a time where both sides allow it.
__attribute__((no_sanitize("address"))) void copy_bytes(char* to, const char* from, size_t length) {
#if defined(__x86_64__)
    asm volatile("rep movsb" : "+D"(to), "+S"(from), "+c"(length) : : "memory");
#else
    size_t i = 0;
    if ((reinterpret_cast<uintptr_t>(to) | reinterpret_cast<uintptr_t>(from)) % sizeof(uint64_t) == 0) {
        volatile uint64_t* out = reinterpret_cast<uint64_t*>(to);
        const volatile uint64_t* in = reinterpret_cast<const uint64_t*>(from);
        for (; i + sizeof(uint64_t) <= length; i += sizeof(uint64_t))
            out[i / sizeof(uint64_t)] = in[i / sizeof(uint64_t)];
    }
    volatile char* out = to;
    const volatile char* in = from;
    for (; i < length; ++i) out[i] = in[i];
#endif
}

__attribute__((no_sanitize("address"))) void clear_bytes(char* to, size_t length) {
#if defined(__x86_64__)
    asm volatile("rep stosb" : "+D"(to), "+c"(length) : "a"(0) : "memory");
#else
    size_t i = 0;
    if (reinterpret_cast<uintptr_t>(to) % sizeof(uint64_t) == 0) {
        volatile uint64_t* out = reinterpret_cast<uint64_t*>(to);
        for (; i + sizeof(uint64_t) <= length; i += sizeof(uint64_t)) out[i / sizeof(uint64_t)] = 0;
    }
    volatile char* out = to;
    for (; i < length; ++i) out[i] = 0;
#endif
}

size_t length_between(const char* start, const char* stop) {
    return start && stop > start ? static_cast<size_t>(stop - start) : 0;
}

}  // namespace

bool keep_program_state() {
    if (!__start_updatetool_state_data && !__start_updatetool_state_bss) return false;
    if (!kept) {
        kept_data().resize(length_between(__start_updatetool_state_data, __stop_updatetool_state_data));
        copy_bytes(kept_data().data(), __start_updatetool_state_data, kept_data().size());
        kept = true;
    }
    return true;
}

namespace {
// Kept before main, while the variables are as the loader left them.
[[maybe_unused]] const bool kept_at_load = keep_program_state();
}  // namespace

bool restore_program_state() {
    if (!kept) return false;
    copy_bytes(__start_updatetool_state_data, kept_data().data(), kept_data().size());
    clear_bytes(__start_updatetool_state_bss,
                length_between(__start_updatetool_state_bss, __stop_updatetool_state_bss));
    return true;
}

}  // namespace sim
