// Mutexes. Unnamed ones live in this process. A named one is one object per
// process (every CreateMutexW of the name shares it) and, across processes,
// a lock file DIR/objects/<name>.lock taken with flock: the kernel drops the
// lock of a process that dies. While held, the file records the holder's
// pid; a clean release empties it. So a waiter that gets the lock and still
// finds a pid knows the holder died holding it: WAIT_ABANDONED.
// Ownership is recursive for the owning thread. A thread of this process
// that ends while holding a mutex is not detected as abandoning it.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

#include "module/hw/folder_file.h"
#include "module/module.h"
#include "module/observer.h"
#include "module/os/handle_table.h"
#include "module/os/named_objects.h"
#include "module/os/os_errors.h"
#include "module/os/sync_objects.h"
#include "platform/winbase.h"

namespace sim::os {
namespace {

using Clock = std::chrono::steady_clock;

struct MutexCore {
    std::mutex mutex;
    std::condition_variable freed;
    bool owned = false;
    std::thread::id owner;
    unsigned recursion = 0;
    // Named only: the lock file, opened by the process that uses it (a
    // forked child opens its own, or it would share the parent's lock).
    std::string lock_path;
    std::u16string name;
    int fd = -1;
    pid_t fd_pid = 0;

    ~MutexCore() {
        if (fd >= 0) close(fd);
    }
};

struct MutexObject : KernelObject {
    explicit MutexObject(std::shared_ptr<MutexCore> c) : KernelObject(ObjectKind::Mutex), core(std::move(c)) {}
    std::shared_ptr<MutexCore> core;
};

std::mutex& named_mutex_registry_lock() {
    static std::mutex m;
    return m;
}

std::map<std::string, std::weak_ptr<MutexCore>>& named_mutexes() {
    static std::map<std::string, std::weak_ptr<MutexCore>> map;
    return map;
}

// Called with core.mutex held. After a fork the child starts with no
// ownership and its own descriptor.
bool ensure_lock_file(MutexCore& core) {
    pid_t self = getpid();
    if (core.fd >= 0 && core.fd_pid == self) return true;
    if (core.fd >= 0) {
        close(core.fd);
        core.fd = -1;
        core.owned = false;
        core.recursion = 0;
    }
    core.fd = open_named_object_file(core.lock_path, O_RDWR | O_CREAT);
    core.fd_pid = self;
    return core.fd >= 0;
}

// The pid the holder wrote into the lock file; 0 when there is none.
long holder_pid(int fd) {
    char text[32] = {};
    if (pread(fd, text, sizeof text - 1, 0) <= 0) return 0;
    return std::strtol(text, nullptr, 10);
}

// Takes the lock file; false on time-out or error. A wait that lasts a
// second is told to the host once, with the holder's pid: a run that waits
// for another process looks hung otherwise.
bool lock_file(int fd, const std::u16string& name, DWORD milliseconds, Clock::time_point deadline) {
    const Clock::time_point tell_at = Clock::now() + std::chrono::seconds(1);
    for (bool told = false;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        Clock::time_point now = Clock::now();
        if (milliseconds != INFINITE && now >= deadline) return false;
        if (!told && now >= tell_at) {
            told = true;
            if (observer().waiting_for_mutex) observer().waiting_for_mutex(name, holder_pid(fd));
            // Told; an endless wait now sleeps in the kernel.
            if (milliseconds == INFINITE) {
                while (flock(fd, LOCK_EX) != 0)
                    if (errno != EINTR) return false;
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds == INFINITE ? 10 : 1));
    }
}

// A pid left in the file means its holder never released the mutex.
bool take_over_record(int fd) {
    char text[32] = {};
    ssize_t n = pread(fd, text, sizeof text - 1, 0);
    bool abandoned = n > 0;
    char record[32];
    int length = std::snprintf(record, sizeof record, "%ld\n", static_cast<long>(getpid()));
    if (ftruncate(fd, 0) != 0 || pwrite(fd, record, static_cast<size_t>(length), 0) != length) {
        // The lock itself is held; only the record is missing, and a later
        // waiter then cannot tell an abandonment. Nothing more to do here.
    }
    return abandoned;
}

}  // namespace

DWORD wait_for_mutex(const std::shared_ptr<KernelObject>& object, DWORD milliseconds) {
    MutexCore& core = *static_cast<MutexObject&>(*object).core;
    Clock::time_point deadline =
        milliseconds == INFINITE ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock<std::mutex> lock(core.mutex);
    bool named = !core.lock_path.empty();
    if (named && !ensure_lock_file(core)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return WAIT_FAILED;
    }
    if (core.owned && core.owner == std::this_thread::get_id()) {
        ++core.recursion;
        return WAIT_OBJECT_0;
    }
    if (milliseconds == INFINITE) {
        core.freed.wait(lock, [&] { return !core.owned; });
    } else if (!core.freed.wait_until(lock, deadline, [&] { return !core.owned; })) {
        return WAIT_TIMEOUT;
    }
    core.owned = true;
    core.owner = std::this_thread::get_id();
    core.recursion = 1;
    if (!named) return WAIT_OBJECT_0;

    // This thread now stands for the process; the other processes are
    // waited for without holding the in-process lock.
    int fd = core.fd;
    lock.unlock();
    bool locked = lock_file(fd, core.name, milliseconds, deadline);
    bool abandoned = locked && take_over_record(fd);
    lock.lock();
    if (!locked) {
        core.owned = false;
        core.recursion = 0;
        core.freed.notify_one();
        return WAIT_TIMEOUT;
    }
    return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

}  // namespace sim::os

using namespace sim::os;

namespace sim {

bool named_object_path(const std::u16string& name, const char* suffix, std::filesystem::path* path) {
    Module* module = Module::current();
    if (!module || name.empty()) return false;
    std::string safe = utf8(name);
    for (char& c : safe)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) c = '_';
    if (safe == "." || safe == "..") safe = "_";
    std::filesystem::path folder = module->dir() / "objects";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return false;
    *path = folder / (safe + suffix);
    return true;
}

int open_named_object_file(const std::filesystem::path& path, int flags) {
    return open_in_folder(path.parent_path().parent_path(), std::filesystem::path("objects") / path.filename(), flags);
}

DWORD hold_named_mutex(const std::u16string& name, std::string* error, HANDLE* handle) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (handle) *handle = mutex;
    if (!mutex) {
        if (error) *error = "cannot create the mutex " + utf8(name) + " (error " + std::to_string(GetLastError()) + ")";
        return WAIT_FAILED;
    }
    DWORD result = WaitForSingleObject(mutex, INFINITE);
    if (result == WAIT_FAILED && error)
        *error = "cannot take the mutex " + utf8(name) + " (error " + std::to_string(GetLastError()) + ")";
    return result;
}

}  // namespace sim

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCWSTR name) {
    std::shared_ptr<MutexCore> core;
    bool existed = false;
    if (name && name[0]) {
        std::filesystem::path path;
        if (!sim::named_object_path(name, ".lock", &path)) {
            SetLastError(kErrorPathNotFound);
            return nullptr;
        }
        std::lock_guard<std::mutex> lock(named_mutex_registry_lock());
        std::weak_ptr<MutexCore>& slot = named_mutexes()[path.string()];
        core = slot.lock();
        existed = core != nullptr;
        if (!core) {
            core = std::make_shared<MutexCore>();
            core->lock_path = path.string();
            core->name = name;
            slot = core;
        }
    } else {
        core = std::make_shared<MutexCore>();
    }
    auto object = std::make_shared<MutexObject>(core);
    HANDLE handle = add_handle(object);
    if (!handle) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // As on Windows, an existing mutex is opened without taking ownership.
    if (initialOwner && !existed && wait_for_mutex(object, INFINITE) == WAIT_FAILED) {
        CloseHandle(handle);
        return nullptr;
    }
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL ReleaseMutex(HANDLE mutex) {
    auto object = find_handle_of<MutexObject>(mutex, ObjectKind::Mutex);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    MutexCore& core = *object->core;
    std::lock_guard<std::mutex> lock(core.mutex);
    if (!core.owned || core.owner != std::this_thread::get_id()) {
        SetLastError(kErrorNotOwner);
        return FALSE;
    }
    if (--core.recursion > 0) return TRUE;
    if (core.fd >= 0) {
        // Empty the record before the lock goes, so the next holder sees a
        // clean release.
        if (ftruncate(core.fd, 0) != 0) {
            // A record left behind makes the next waiter report an abandoned
            // mutex: the safe side of the mistake.
        }
        flock(core.fd, LOCK_UN);
    }
    core.owned = false;
    core.freed.notify_one();
    return TRUE;
}
