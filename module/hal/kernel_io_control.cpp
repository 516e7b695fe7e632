// The board HAL: KernelIoControl's six requests and the clean-reboot flag.
// What the HAL keeps lives in the module directory: configuration items
// under hal/, the saved registry in registry.saved; what it does is logged
// in events.log.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "module/hal/config_items.h"
#include "module/hal/hal_requests.h"
#include "module/hw/cpu.h"
#include "module/module.h"
#include "module/observer.h"
#include "module/os/os_errors.h"
#include "module/os/windows_table.h"
#include "platform/pkfuncs.h"
#include "platform/winbase.h"

namespace sim::hal {
namespace {

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BOOL reboot(Module& module, const void* in, DWORD in_size) {
    // A cold boot sends one word 0; a warm boot sends nothing.
    DWORD word = 1;
    if (in && in_size >= sizeof word) std::memcpy(&word, in, sizeof word);
    bool cold = in && in_size >= sizeof word && word == 0;
    module.log_event(cold ? "reboot cold" : "reboot warm");
    if (observer().reboot) {
        observer().reboot(cold);
        return fail(ERROR_NOT_SUPPORTED);  // the host let the HAL return
    }
    if (module.config().get_bool("hal.reboot_returns", false)) return fail(ERROR_NOT_SUPPORTED);
    // The module restarts: nothing after this point runs.
    std::cout.flush();
    std::fflush(nullptr);
    _exit(1);
}

// The 12-byte record goes into the caller's buffer even with an output size
// of 0, which is how callers ask for it; a size that is given must hold it.
BOOL get_image_version(Module& module, void* out, DWORD out_size, DWORD* returned) {
    std::vector<uint32_t> words = module.config().get_u32_list("image.version");
    if (!out || (out_size != 0 && out_size < 12)) return fail(ERROR_INSUFFICIENT_BUFFER);
    if (words.size() != 3) return fail(ERROR_NOT_SUPPORTED);
    std::memcpy(out, words.data(), 12);
    if (returned) *returned = 12;
    return TRUE;
}

BOOL clear_registry(Module& module) {
    bool cleared = false;
    DWORD error = ERROR_NOT_SUPPORTED;
    if (module.config().get_bool("hal.clear_registry", true)) {
        std::error_code ec;
        std::filesystem::remove(module.dir() / "registry.saved", ec);
        cleared = !ec;
        error = os::kErrorWriteFault;
    }
    module.log_event(cleared ? "registry cleared" : "registry clear failed");
    if (observer().registry_result) observer().registry_result(cleared);
    return cleared ? TRUE : fail(error);
}

bool read_item_request(const void* in, DWORD in_size, ConfigItemRequest* request) {
    if (!in || in_size < sizeof *request) return false;
    std::memcpy(request, in, sizeof *request);
    return true;
}

BOOL get_config_item(Module& module, const void* in, DWORD in_size, void* out, DWORD out_size, DWORD* returned) {
    ConfigItemRequest request;
    if (!read_item_request(in, in_size, &request) || !out) return fail(ERROR_INVALID_PARAMETER);
    std::vector<uint8_t> bytes;
    if (!read_config_item(module, request.item, &bytes)) return fail(ERROR_FILE_NOT_FOUND);
    size_t count = std::min<size_t>({request.length, out_size, bytes.size()});
    std::memcpy(out, bytes.data(), count);
    if (returned) *returned = static_cast<DWORD>(count);
    return TRUE;
}

BOOL set_config_item(Module& module, const void* in, DWORD in_size, DWORD* returned) {
    ConfigItemRequest request;
    if (!read_item_request(in, in_size, &request) || !request.buffer || request.length == 0 ||
        request.length > kMaxConfigItemBytes)
        return fail(ERROR_INVALID_PARAMETER);
    if (!store_config_item(module, request.item, static_cast<const uint8_t*>(request.buffer), request.length))
        return fail(os::kErrorWriteFault);
    module.log_event("config item " + std::to_string(request.item) + " set");
    if (returned) *returned = request.length;
    return TRUE;
}

// Runs with the current thread in kernel mode, restoring the mode after.
class KernelMode {
public:
    KernelMode() : previous_(in_kernel_mode()) { set_kernel_mode(true); }
    ~KernelMode() { set_kernel_mode(previous_); }
    KernelMode(const KernelMode&) = delete;
    KernelMode& operator=(const KernelMode&) = delete;

private:
    bool previous_;
};

BOOL call_kernel_mode(Module& module, const void* in, DWORD in_size, void* out, DWORD out_size, DWORD* returned) {
    if (!module.config().get_bool("hal.kernel_call", true)) return fail(ERROR_NOT_SUPPORTED);
    DWORD operation;
    if (!in || in_size < sizeof operation) return fail(ERROR_INVALID_PARAMETER);
    std::memcpy(&operation, in, sizeof operation);
    if (!out || out_size < sizeof(DWORD)) return fail(ERROR_INSUFFICIENT_BUFFER);
    DWORD result;
    if (operation == kKernelCallRoutine) {
        KernelRoutineRequest request;
        if (in_size < sizeof request) return fail(ERROR_INVALID_PARAMETER);
        std::memcpy(&request, in, sizeof request);
        if (!request.routine) return fail(ERROR_INVALID_PARAMETER);
        auto routine = reinterpret_cast<DWORD (*)(ULONG_PTR)>(request.routine);
        KernelMode kernel;
        result = routine(request.argument);
    } else if (operation == kKernelCallCommitPages) {
        KernelCommitRequest request;
        if (in_size < sizeof request) return fail(ERROR_INVALID_PARAMETER);
        std::memcpy(&request, in, sizeof request);
        KernelMode kernel;
        DWORD error = 0;
        result = commit_physical_pages(request.destination, request.physicalBy256, request.size, request.protection,
                                       true, &error)
                     ? TRUE
                     : FALSE;
    } else {
        return fail(ERROR_INVALID_PARAMETER);
    }
    std::memcpy(out, &result, sizeof result);
    if (returned) *returned = sizeof result;
    return TRUE;
}

}  // namespace
}  // namespace sim::hal

BOOL KernelIoControl(DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize, LPVOID outBuffer, DWORD outBufferSize,
                     LPDWORD bytesReturned) {
    using namespace sim::hal;
    if (bytesReturned) *bytesReturned = 0;
    sim::Module* module = sim::Module::current();
    if (!module) return fail(sim::os::kErrorNotReady);
    switch (ioControlCode) {
        case kIoctlReboot: return reboot(*module, inBuffer, inBufferSize);
        case kIoctlGetImageVersion: return get_image_version(*module, outBuffer, outBufferSize, bytesReturned);
        case kIoctlClearRegistry: return clear_registry(*module);
        case kIoctlGetConfigItem:
            return get_config_item(*module, inBuffer, inBufferSize, outBuffer, outBufferSize, bytesReturned);
        case kIoctlSetConfigItem: return set_config_item(*module, inBuffer, inBufferSize, bytesReturned);
        case kIoctlCallKernelMode:
            return call_kernel_mode(*module, inBuffer, inBufferSize, outBuffer, outBufferSize, bytesReturned);
        default: return fail(ERROR_NOT_SUPPORTED);
    }
}

void SetCleanRebootFlag(void) {
    sim::Module* module = sim::Module::current();
    if (module) module->log_event("clean reboot requested");
}
