// The running system's version, and calls into kernel mode through the HAL.
#include <string.h>

#include "board/hal_ioctl.h"
#include "board/phys_window.h"

static_assert(sizeof(OSVERSIONINFOW) == 276, "version record size field is 276");

BOOL OsMajorVersionBelow6(void) {
    OSVERSIONINFOW version;
    memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    // An unreadable version takes the kernel-mode paths, which fail cleanly
    // where a direct coprocessor read would stop the program.
    if (!GetVersionExW(&version)) {
        return FALSE;
    }
    return version.dwMajorVersion < 6;
}

DWORD KernelCall(void* routine, ULONG_PTR argument) {
    KERNEL_CALL_REQUEST request;
    memset(&request, 0, sizeof request);
    request.operation = kKernelCallRoutine;
    request.routine = routine;
    request.argument = argument;

    DWORD result = 0;
    if (!KernelIoControl(IOCTL_HAL_CALL_KERNEL_MODE, &request, sizeof request, &result, sizeof result, NULL)) {
        return 0;
    }
    return result;
}

DWORD KernelTrampoline(ULONG_PTR record) {
    const TRAMPOLINE_RECORD* call = (const TRAMPOLINE_RECORD*)record;
    return call->routine(call->first, call->second);
}
