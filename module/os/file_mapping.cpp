// Shared memory: CreateFileMappingW over the paging file, MapViewOfFile,
// UnmapViewOfFile. A named mapping is the file DIR/objects/<name>.map of the
// current module, mapped shared, so every process of the module sees the
// same bytes and the contents persist in the module directory, as the
// running system keeps its own copy. An unnamed one is private memory of
// this process. Mappings over ordinary files are not offered.
#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>

#include "module/os/handle_table.h"
#include "module/os/memory_internal.h"
#include "module/os/named_objects.h"
#include "module/os/os_errors.h"
#include "platform/winbase.h"

namespace sim::os {
namespace {

struct MappingObject : KernelObject {
    MappingObject() : KernelObject(ObjectKind::Mapping) {}
    ~MappingObject() override {
        if (fd >= 0) close(fd);
    }
    int fd = -1;
    uint64_t size = 0;
    bool writable = false;
};

std::mutex& views_mutex() {
    static std::mutex m;
    return m;
}

std::map<uintptr_t, size_t>& views() {
    static std::map<uintptr_t, size_t> map;
    return map;
}

}  // namespace
}  // namespace sim::os

using namespace sim::os;

HANDLE CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCWSTR name) {
    if (file != INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    // A paging-file mapping needs its size; the module's RAM is 32-bit.
    if ((protect != PAGE_READWRITE && protect != PAGE_READONLY) || maximumSizeHigh != 0 || maximumSizeLow == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto mapping = std::make_shared<MappingObject>();
    mapping->writable = protect == PAGE_READWRITE;
    bool existed = false;
    if (name && name[0]) {
        std::filesystem::path path;
        if (!sim::named_object_path(name, ".map", &path)) {
            SetLastError(kErrorPathNotFound);
            return nullptr;
        }
        mapping->fd = sim::open_named_object_file(path, O_RDWR | O_CREAT | O_EXCL);
        if (mapping->fd < 0 && errno == EEXIST) {
            existed = true;
            mapping->fd = sim::open_named_object_file(path, O_RDWR);
        }
    } else {
        mapping->fd = memfd_create("unnamed-mapping", MFD_CLOEXEC);
    }
    struct stat st;
    if (mapping->fd < 0 || fstat(mapping->fd, &st) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    // New bytes are zero; an existing object shorter than asked grows, so
    // no view ever reaches past the end of its file.
    mapping->size = static_cast<uint64_t>(st.st_size);
    if (mapping->size < maximumSizeLow) {
        if (ftruncate(mapping->fd, maximumSizeLow) != 0) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        mapping->size = maximumSizeLow;
    }
    HANDLE handle = add_handle(mapping);
    if (!handle) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD fileOffsetHigh, DWORD fileOffsetLow, DWORD bytesToMap) {
    auto object = find_handle_of<MappingObject>(mapping, ObjectKind::Mapping);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    bool write = desiredAccess == FILE_MAP_ALL_ACCESS || (desiredAccess & FILE_MAP_WRITE);
    bool read = write || (desiredAccess & FILE_MAP_READ);
    if (!read) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (write && !object->writable) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    uint64_t offset = (static_cast<uint64_t>(fileOffsetHigh) << 32) | fileOffsetLow;
    if (offset % kPageSize != 0 || offset >= object->size || (bytesToMap != 0 && bytesToMap > object->size - offset)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    size_t length = bytesToMap ? bytesToMap : static_cast<size_t>(object->size - offset);
    void* view = mmap(nullptr, length, write ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, object->fd,
                      static_cast<off_t>(offset));
    if (view == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(views_mutex());
    views()[reinterpret_cast<uintptr_t>(view)] = length;
    return view;
}

namespace sim::os {

void release_views() {
    std::lock_guard<std::mutex> lock(views_mutex());
    for (const auto& [base, length] : views()) munmap(reinterpret_cast<void*>(base), length);
    views().clear();
}

}  // namespace sim::os

BOOL UnmapViewOfFile(LPCVOID baseAddress) {
    std::lock_guard<std::mutex> lock(views_mutex());
    auto it = views().find(reinterpret_cast<uintptr_t>(baseAddress));
    if (it == views().end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    munmap(const_cast<void*>(baseAddress), it->second);
    views().erase(it);
    return TRUE;
}
