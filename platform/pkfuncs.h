// Kernel-side services of Windows CE that a privileged application may call:
// the HAL's I/O control entry, physical page commit, the clean-reboot request.
#pragma once
#include "platform/wintypes.h"

#define METHOD_BUFFERED 0
#define FILE_ANY_ACCESS 0
#define FILE_DEVICE_HAL 0x00000101
#define CTL_CODE(DeviceType, Function, Method, Access) \
    (((DeviceType) << 16) | ((Access) << 14) | ((Function) << 2) | (Method))

#define PAGE_PHYSICAL 0x400

BOOL KernelIoControl(DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize, LPVOID outBuffer, DWORD outBufferSize,
                     LPDWORD bytesReturned);
BOOL VirtualCopy(LPVOID destination, LPVOID source, DWORD size, DWORD protect);
// Marks the next restart as clean: the stored object store and registry are
// discarded by the boot code.
void SetCleanRebootFlag(void);
