// The resource loader over the program's resource table (the instance handle
// is the address of its RESOURCE_ENTRY array, ended by an all-zero entry).
// Integer names and types match by number, text names without regard to case.
#include <cwctype>

#include "platform/windows.h"

namespace {

// A table longer than this has lost its terminator.
constexpr size_t kMaxResourceEntries = 4096;

bool same_name(LPCWSTR left, LPCWSTR right) {
    if (IS_INTRESOURCE(left) || IS_INTRESOURCE(right)) return left == right;
    for (;; ++left, ++right) {
        if (std::towupper(*left) != std::towupper(*right)) return false;
        if (*left == 0) return true;
    }
}

bool is_terminator(const RESOURCE_ENTRY& entry) {
    return entry.type == nullptr && entry.name == nullptr && entry.data == nullptr && entry.size == 0;
}

}  // namespace

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
    const RESOURCE_ENTRY* table = reinterpret_cast<const RESOURCE_ENTRY*>(module);
    if (table == nullptr || name == nullptr || type == nullptr) return nullptr;
    for (size_t index = 0; index < kMaxResourceEntries && !is_terminator(table[index]); ++index) {
        const RESOURCE_ENTRY& entry = table[index];
        if (same_name(entry.type, type) && same_name(entry.name, name))
            return reinterpret_cast<HRSRC>(const_cast<RESOURCE_ENTRY*>(&entry));
    }
    return nullptr;
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
    if (resource == nullptr) return nullptr;
    return const_cast<void*>(reinterpret_cast<const RESOURCE_ENTRY*>(resource)->data);
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
    if (resource == nullptr) return 0;
    return reinterpret_cast<const RESOURCE_ENTRY*>(resource)->size;
}
