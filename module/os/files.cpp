// Files: CreateFileW, ReadFile, WriteFile, GetFileTime, GetFileSize and
// SetFilePointer from the file's start. Sharing is enforced between the opens
// of this process (a share mode of 0 keeps every other open out), as the WinCE
// file system does; no overlapped I/O, no moves relative to the position or
// the end.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <vector>

#include "module/hw/folder_file.h"
#include "module/module.h"
#include "module/observer.h"
#include "module/os/calendar.h"
#include "module/os/handle_table.h"
#include "module/os/os_errors.h"
#include "module/os/wince_path.h"
#include "platform/winbase.h"

namespace sim::os {
namespace {

struct OpenFile : KernelObject {
    OpenFile() : KernelObject(ObjectKind::File) {}
    ~OpenFile() override;
    int fd = -1;
    DWORD access = 0;
    DWORD share = 0;
    dev_t device = 0;
    ino_t inode = 0;
    // The file is the running image's \windows\default.fdf, whose creation
    // time the profile gives.
    bool image_stamp_file = false;
};

std::mutex& open_files_mutex() {
    static std::mutex m;
    return m;
}

std::vector<OpenFile*>& open_files() {
    static std::vector<OpenFile*> list;
    return list;
}

OpenFile::~OpenFile() {
    {
        std::lock_guard<std::mutex> lock(open_files_mutex());
        auto& list = open_files();
        for (auto it = list.begin(); it != list.end(); ++it) {
            if (*it == this) {
                list.erase(it);
                break;
            }
        }
    }
    if (fd >= 0) close(fd);
}

// An open conflicts with another of the same file when either one's access
// is not granted by the other's share mode.
bool sharing_conflict(const OpenFile& existing, DWORD access, DWORD share) {
    bool read = access & GENERIC_READ, write = access & GENERIC_WRITE;
    bool existing_read = existing.access & GENERIC_READ, existing_write = existing.access & GENERIC_WRITE;
    if (read && !(existing.share & FILE_SHARE_READ)) return true;
    if (write && !(existing.share & FILE_SHARE_WRITE)) return true;
    if (existing_read && !(share & FILE_SHARE_READ)) return true;
    if (existing_write && !(share & FILE_SHARE_WRITE)) return true;
    return false;
}

bool same_file_as_image_stamp(const struct stat& st) {
    Module* module = Module::current();
    if (!module) return false;
    std::filesystem::path stamp;
    DWORD error;
    if (!resolve_wince_path(module->root_dir(), u"\\windows\\default.fdf", false, &stamp, &error)) return false;
    struct stat stamp_st;
    if (stat(stamp.c_str(), &stamp_st) != 0) return false;
    return stamp_st.st_dev == st.st_dev && stamp_st.st_ino == st.st_ino;
}

uint64_t filetime_from_unix(const struct timespec& t) {
    if (t.tv_sec < 0) return 0;
    return (static_cast<uint64_t>(t.tv_sec) + kUnixEpochSeconds) * kFileTimeTicksPerSecond +
           static_cast<uint64_t>(t.tv_nsec) / 100u;
}

// "YYYY-MM-DD HH:MM:SS" in UTC; false for anything else.
bool filetime_from_text(const std::string& text, uint64_t* ticks) {
    unsigned year, month, day, hour, minute, second;
    char tail;
    if (std::sscanf(text.c_str(), "%4u-%2u-%2u %2u:%2u:%2u%c", &year, &month, &day, &hour, &minute, &second, &tail) !=
        6)
        return false;
    if (year < 1601 || day < 1 || day > days_in_month(year, month) || hour > 23 || minute > 59 || second > 59)
        return false;
    uint64_t seconds = days_from_civil(year, month, day) * kSecondsPerDay + hour * 3600u + minute * 60u + second;
    *ticks = seconds * kFileTimeTicksPerSecond;
    return true;
}

void store_filetime(uint64_t ticks, FILETIME* out) {
    out->dwLowDateTime = static_cast<DWORD>(ticks);
    out->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

}  // namespace
}  // namespace sim::os

using namespace sim::os;

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                   DWORD creationDisposition, DWORD, HANDLE templateFile) {
    if (!fileName || templateFile || (desiredAccess & ~(GENERIC_READ | GENERIC_WRITE)) ||
        (shareMode & ~(FILE_SHARE_READ | FILE_SHARE_WRITE))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    int flags;
    switch (creationDisposition) {
        case CREATE_NEW: flags = O_CREAT | O_EXCL; break;
        case CREATE_ALWAYS: flags = O_CREAT; break;
        case OPEN_EXISTING: flags = 0; break;
        case OPEN_ALWAYS: flags = O_CREAT; break;
        default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
    bool may_create = flags & O_CREAT;
    if (may_create && !(desiredAccess & GENERIC_WRITE)) {
        // Creating or truncating needs write access.
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    std::u16string name(fileName);
    std::filesystem::path path;
    std::filesystem::path module_dir;  // a WinCE path's file is opened below it, no link followed
    if (is_wince_path(name)) {
        sim::Module* module = sim::Module::current();
        if (!module) {
            SetLastError(kErrorPathNotFound);
            return INVALID_HANDLE_VALUE;
        }
        DWORD error;
        if (!resolve_wince_path(module->root_dir(), name, may_create, &path, &error)) {
            SetLastError(error);
            return INVALID_HANDLE_VALUE;
        }
        module_dir = module->dir();
    } else {
        if (name.empty()) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        path = sim::utf8(name);
    }

    // Directories are not files to read.
    struct stat st;
    bool existed = stat(path.c_str(), &st) == 0;
    if (existed && S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (existed && creationDisposition == CREATE_NEW) {
        SetLastError(kErrorFileExists);
        return INVALID_HANDLE_VALUE;
    }
    auto file = std::make_shared<OpenFile>();
    file->access = desiredAccess;
    file->share = shareMode;
    std::lock_guard<std::mutex> lock(open_files_mutex());
    // Sharing is checked before anything is created or truncated.
    if (existed) {
        for (OpenFile* other : open_files()) {
            if (other->device == st.st_dev && other->inode == st.st_ino &&
                sharing_conflict(*other, desiredAccess, shareMode)) {
                SetLastError(kErrorSharingViolation);
                return INVALID_HANDLE_VALUE;
            }
        }
    }
    int mode = (desiredAccess & GENERIC_WRITE) ? ((desiredAccess & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
    if (creationDisposition == CREATE_ALWAYS) flags |= O_TRUNC;
    file->fd = module_dir.empty() ? open(path.c_str(), mode | flags | O_CLOEXEC, 0644)
                                  : sim::open_in_folder(module_dir, path.lexically_relative(module_dir), mode | flags);
    if (file->fd < 0) {
        int e = errno;
        SetLastError(e == ENOENT   ? (may_create ? kErrorPathNotFound : ERROR_FILE_NOT_FOUND)
                     : e == EEXIST ? kErrorFileExists
                                   : ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (fstat(file->fd, &st) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    file->device = st.st_dev;
    file->inode = st.st_ino;
    file->image_stamp_file = same_file_as_image_stamp(st);
    HANDLE handle = add_handle(file);
    if (!handle) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    open_files().push_back(file.get());
    // As on Windows, opening an existing file with a creating disposition says so.
    SetLastError((existed && (creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS))
                     ? ERROR_ALREADY_EXISTS
                     : ERROR_SUCCESS);
    return handle;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED overlapped) {
    if (bytesRead) *bytesRead = 0;
    auto open = find_handle_of<OpenFile>(file, ObjectKind::File);
    if (!open) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (overlapped || (!buffer && bytesToRead)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!(open->access & GENERIC_READ)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // Reads until the count is met or the file ends: a short count means the end.
    DWORD done = 0;
    while (done < bytesToRead) {
        ssize_t n = read(open->fd, static_cast<char*>(buffer) + done, bytesToRead - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (bytesRead) *bytesRead = done;
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (n == 0) break;
        done += static_cast<DWORD>(n);
    }
    if (bytesRead) *bytesRead = done;
    return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPOVERLAPPED overlapped) {
    if (bytesWritten) *bytesWritten = 0;
    auto open = find_handle_of<OpenFile>(file, ObjectKind::File);
    if (!open) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (overlapped || (!buffer && bytesToWrite)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!(open->access & GENERIC_WRITE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    DWORD done = 0;
    while (done < bytesToWrite) {
        ssize_t n = write(open->fd, static_cast<const char*>(buffer) + done, bytesToWrite - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (bytesWritten) *bytesWritten = done;
            SetLastError(kErrorWriteFault);
            return FALSE;
        }
        done += static_cast<DWORD>(n);
    }
    if (bytesWritten) *bytesWritten = done;
    return TRUE;
}

BOOL GetFileTime(HANDLE file, LPFILETIME creationTime, LPFILETIME lastAccessTime, LPFILETIME lastWriteTime) {
    auto open = find_handle_of<OpenFile>(file, ObjectKind::File);
    if (!open) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    struct stat st;
    if (fstat(open->fd, &st) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // Linux keeps no creation time; the modification time stands in for it,
    // except for the image stamp file whose creation time the profile sets.
    uint64_t created = filetime_from_unix(st.st_mtim);
    sim::Module* module = sim::Module::current();
    if (open->image_stamp_file && module && module->config().has("fdf.created")) {
        if (!filetime_from_text(module->config().get_string("fdf.created", ""), &created)) {
            SetLastError(kErrorInvalidData);
            return FALSE;
        }
    }
    if (creationTime) store_filetime(created, creationTime);
    if (lastAccessTime) store_filetime(filetime_from_unix(st.st_atim), lastAccessTime);
    if (lastWriteTime) store_filetime(filetime_from_unix(st.st_mtim), lastWriteTime);
    return TRUE;
}

DWORD GetFileSize(HANDLE file, LPDWORD fileSizeHigh) {
    auto open = find_handle_of<OpenFile>(file, ObjectKind::File);
    struct stat st;
    if (!open || fstat(open->fd, &st) != 0) {
        SetLastError(open ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    uint64_t size = static_cast<uint64_t>(st.st_size);
    if (fileSizeHigh) *fileSizeHigh = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

DWORD SetFilePointer(HANDLE file, LONG distanceToMove, PLONG distanceToMoveHigh, DWORD moveMethod) {
    auto open = find_handle_of<OpenFile>(file, ObjectKind::File);
    if (!open) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    int64_t high = distanceToMoveHigh ? *distanceToMoveHigh : (distanceToMove < 0 ? -1 : 0);
    int64_t target = static_cast<int64_t>(static_cast<uint64_t>(high) << 32 | static_cast<DWORD>(distanceToMove));
    if (moveMethod != FILE_BEGIN || target < 0 || lseek(open->fd, target, SEEK_SET) < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceToMoveHigh) *distanceToMoveHigh = static_cast<LONG>(target >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(target);
}
