// The process's kernel objects (files, threads, mutexes, file mappings,
// registry keys) behind small non-null handle values, as the WinCE kernel
// hands them out. A handle holds a shared reference, so closing a handle
// while another thread still waits on the object is safe.
#pragma once
#include <memory>

#include "platform/wintypes.h"

namespace sim::os {

enum class ObjectKind { File, Thread, Mutex, Mapping, RegistryKey };

struct KernelObject {
    explicit KernelObject(ObjectKind k) : kind(k) {}
    virtual ~KernelObject() = default;
    const ObjectKind kind;
};

// Null when the table is full.
HANDLE add_handle(std::shared_ptr<KernelObject> object);
// The object behind the handle, or null (any kind).
std::shared_ptr<KernelObject> find_handle(HANDLE handle);
// Closes every handle of the program (a power loss ends the process).
void close_all_handles();
// Removes the handle; false when it was not open.
bool remove_handle(HANDLE handle);

template <class T>
std::shared_ptr<T> find_handle_of(HANDLE handle, ObjectKind kind) {
    std::shared_ptr<KernelObject> object = find_handle(handle);
    if (!object || object->kind != kind) return nullptr;
    return std::static_pointer_cast<T>(object);
}

}  // namespace sim::os
