// The board HAL's request codes and input layouts as the HAL itself sees
// them. They match what the system sends; the module keeps its own copy
// rather than including the system's headers.
#pragma once
#include "platform/pkfuncs.h"
#include "platform/wintypes.h"

namespace sim::hal {

constexpr DWORD kIoctlReboot = CTL_CODE(FILE_DEVICE_HAL, 15, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD kIoctlGetImageVersion = CTL_CODE(FILE_DEVICE_HAL, 2051, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD kIoctlClearRegistry = CTL_CODE(FILE_DEVICE_HAL, 2052, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD kIoctlGetConfigItem = CTL_CODE(FILE_DEVICE_HAL, 2058, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD kIoctlSetConfigItem = CTL_CODE(FILE_DEVICE_HAL, 2059, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD kIoctlCallKernelMode = CTL_CODE(FILE_DEVICE_HAL, 2100, METHOD_BUFFERED, FILE_ANY_ACCESS);

static_assert(kIoctlReboot == 0x0101003C && kIoctlGetImageVersion == 0x0101200C && kIoctlClearRegistry == 0x01012010 &&
                  kIoctlGetConfigItem == 0x01012028 && kIoctlSetConfigItem == 0x0101202C &&
                  kIoctlCallKernelMode == 0x010120D0,
              "HAL request codes");

// Input of the configuration item requests: 12 bytes on the module.
struct ConfigItemRequest {
    DWORD item;
    void* buffer;
    DWORD length;
};

// Inputs of the kernel-mode request, told apart by their first word.
constexpr DWORD kKernelCallRoutine = 0;
constexpr DWORD kKernelCallCommitPages = 1;

struct KernelRoutineRequest {
    DWORD operation;
    void* routine;  // DWORD routine(ULONG_PTR argument)
    ULONG_PTR argument;
};

struct KernelCommitRequest {
    DWORD operation;
    void* destination;
    DWORD physicalBy256;
    DWORD size;
    DWORD protection;
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(ConfigItemRequest) == 12 && sizeof(KernelRoutineRequest) == 12 &&
                  sizeof(KernelCommitRequest) == 20,
              "request layouts on the module");
#endif

// The largest configuration item the HAL keeps.
constexpr DWORD kMaxConfigItemBytes = 4096;

}  // namespace sim::hal
