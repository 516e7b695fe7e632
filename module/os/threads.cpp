// Threads, waits and time. CreateThread runs the routine on a host thread;
// its handle becomes signalled when the routine returns. Sleep and
// GetTickCount run on the module's virtual clock. Finite waits on threads
// and mutexes count wall-clock time, since the party waited for runs at
// host speed.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "module/module.h"
#include "module/observer.h"
#include "module/os/handle_table.h"
#include "module/os/sync_objects.h"
#include "platform/winbase.h"

namespace sim::os {
namespace {

struct ThreadObject : KernelObject {
    ThreadObject() : KernelObject(ObjectKind::Thread) {}
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    DWORD exit_code = 0;
};

constexpr DWORD kFirstThreadId = 0x100;
std::atomic<DWORD> next_thread_id{kFirstThreadId};

// Threads started and not yet ended, so the host can let them finish before
// it reports and closes the module.
std::mutex running_mutex;
std::condition_variable running_changed;
int running_threads = 0;

DWORD wait_for_thread(ThreadObject& thread, DWORD milliseconds) {
    std::unique_lock<std::mutex> lock(thread.mutex);
    if (milliseconds == INFINITE) {
        thread.ended.wait(lock, [&] { return thread.done; });
        return WAIT_OBJECT_0;
    }
    bool done = thread.ended.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return thread.done; });
    return done ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

}  // namespace
}  // namespace sim::os

using namespace sim::os;

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, DWORD, LPTHREAD_START_ROUTINE startAddress, LPVOID parameter,
                    DWORD creationFlags, LPDWORD threadId) {
    // No suspended start: nothing here resumes threads.
    if (!startAddress || creationFlags != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto thread = std::make_shared<ThreadObject>();
    HANDLE handle = add_handle(thread);
    if (!handle) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    DWORD id = next_thread_id.fetch_add(4);
    {
        std::lock_guard<std::mutex> lock(running_mutex);
        ++running_threads;
    }
    if (sim::observer().thread_start) sim::observer().thread_start();
    try {
        std::thread([thread, startAddress, parameter] {
            DWORD code = startAddress(parameter);
            // The host hears of the end before any waiter is released.
            if (sim::observer().thread_exit) sim::observer().thread_exit(code);
            {
                std::lock_guard<std::mutex> lock(thread->mutex);
                thread->exit_code = code;
                thread->done = true;
                thread->ended.notify_all();
            }
            std::lock_guard<std::mutex> lock(running_mutex);
            --running_threads;
            running_changed.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        {
            std::lock_guard<std::mutex> lock(running_mutex);
            --running_threads;
        }
        remove_handle(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId) *threadId = id;
    return handle;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    std::shared_ptr<KernelObject> object = find_handle(handle);
    if (object && object->kind == ObjectKind::Thread)
        return wait_for_thread(static_cast<ThreadObject&>(*object), milliseconds);
    if (object && object->kind == ObjectKind::Mutex) return wait_for_mutex(object, milliseconds);
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

void Sleep(DWORD milliseconds) {
    sim::Module* module = sim::Module::current();
    if (milliseconds == 0 || !module) {
        std::this_thread::yield();
        return;
    }
    module->clock().advance_ns(static_cast<uint64_t>(milliseconds) * 1000000u);
    module->clock().pace();
}

DWORD GetTickCount(void) {
    sim::Module* module = sim::Module::current();
    if (!module) {
        // Without a module there is no virtual clock; the host's steady clock
        // keeps deadlines moving.
        return static_cast<DWORD>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
                .count());
    }
    module->clock().pace();
    return module->clock().tick_count_ms();
}

namespace sim {

void wait_for_program_threads() {
    std::unique_lock<std::mutex> lock(running_mutex);
    running_changed.wait(lock, [] { return running_threads == 0; });
}

bool forget_program_threads() {
    std::lock_guard<std::mutex> lock(running_mutex);
    if (running_threads != 0) return false;
    next_thread_id = kFirstThreadId;
    return true;
}

}  // namespace sim
