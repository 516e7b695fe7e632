// The board HAL's requests, all reached through KernelIoControl.
#pragma once
#include "platform/pkfuncs.h"
#include "platform/windows.h"

#define IOCTL_HAL_REBOOT CTL_CODE(FILE_DEVICE_HAL, 15, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_HAL_GET_IMAGE_VERSION CTL_CODE(FILE_DEVICE_HAL, 2051, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_HAL_CLEAR_REGISTRY CTL_CODE(FILE_DEVICE_HAL, 2052, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_HAL_GET_CONFIG_ITEM CTL_CODE(FILE_DEVICE_HAL, 2058, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_HAL_SET_CONFIG_ITEM CTL_CODE(FILE_DEVICE_HAL, 2059, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define IOCTL_HAL_CALL_KERNEL_MODE CTL_CODE(FILE_DEVICE_HAL, 2100, METHOD_BUFFERED, FILE_ANY_ACCESS)

static_assert(IOCTL_HAL_REBOOT == 0x0101003C, "reboot code");
static_assert(IOCTL_HAL_GET_IMAGE_VERSION == 0x0101200C, "image version code");
static_assert(IOCTL_HAL_CLEAR_REGISTRY == 0x01012010, "clear registry code");
static_assert(IOCTL_HAL_GET_CONFIG_ITEM == 0x01012028, "get config item code");
static_assert(IOCTL_HAL_SET_CONFIG_ITEM == 0x0101202C, "set config item code");
static_assert(IOCTL_HAL_CALL_KERNEL_MODE == 0x010120D0, "kernel call code");

enum {
    kConfigItemBoard = 0,        // 8 bytes, opaque, written back after an update
    kConfigItemFlashLayout = 5,  // 24 bytes: image place, registry start, registry half length
};

// Input of the configuration item requests. The buffer field is a pointer:
// 12 bytes on the module's 32-bit processor.
typedef struct CONFIG_ITEM_REQUEST {
    DWORD item;
    void* buffer;
    DWORD length;
} CONFIG_ITEM_REQUEST;

enum {
    kKernelCallRoutine = 0,
    kKernelCallCommitPages = 1,
};

// Inputs of IOCTL_HAL_CALL_KERNEL_MODE: 12 and 20 bytes on the module.
// The HAL calls the routine as DWORD routine(ULONG_PTR argument).
typedef struct KERNEL_CALL_REQUEST {
    DWORD operation;  // kKernelCallRoutine
    void* routine;
    ULONG_PTR argument;
} KERNEL_CALL_REQUEST;

typedef struct KERNEL_COMMIT_REQUEST {
    DWORD operation;  // kKernelCallCommitPages
    void* destination;
    DWORD physicalBy256;
    DWORD size;
    DWORD protection;
} KERNEL_COMMIT_REQUEST;

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(CONFIG_ITEM_REQUEST) == 12, "configuration item request is 12 bytes");
static_assert(sizeof(KERNEL_CALL_REQUEST) == 12, "kernel call request is 12 bytes");
static_assert(sizeof(KERNEL_COMMIT_REQUEST) == 20, "commit request is 20 bytes");
#endif
