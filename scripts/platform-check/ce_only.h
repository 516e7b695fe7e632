// The names of the platform API that only Windows CE on the module has, for
// the platform header check (scripts/check-platform-headers.sh). The check
// compiles the system against the Windows headers of mingw-w64 with every
// platform/ include pointing here; what those headers declare comes from them,
// and only what a desktop SDK lacks is written below, as the module's SDK
// declares it. Keep it to such names: anything else hides a mismatch.
#pragma once
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <stdlib.h>
#include <strsafe.h>
#include <wchar.h>

// ceddk.h. Register accesses: on the desktop they belong to the kernel-mode
// driver kit, not to the API of an application.
extern "C" ULONG READ_REGISTER_ULONG(volatile ULONG* registerAddress);
extern "C" void WRITE_REGISTER_ULONG(volatile ULONG* registerAddress, ULONG value);

// pkfuncs.h. The kernel's services for privileged applications: the OEM
// adaptation layer's I/O control entry, committing physical pages to a
// virtual range, and the clean-reboot request have no desktop counterpart.
#define FILE_DEVICE_HAL 0x00000101
#define PAGE_PHYSICAL 0x400
#define IOCTL_HAL_REBOOT CTL_CODE(FILE_DEVICE_HAL, 15, METHOD_BUFFERED, FILE_ANY_ACCESS)
extern "C" BOOL KernelIoControl(DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize, LPVOID outBuffer,
                                DWORD outBufferSize, LPDWORD bytesReturned);
extern "C" BOOL VirtualCopy(LPVOID destination, LPVOID source, DWORD size, DWORD protect);
extern "C" void SetCleanRebootFlag(void);

// armintr.h. An intrinsic of the module's ARM compiler: reads a coprocessor
// register (MRC); an x86 compiler has none.
extern "C" unsigned int _MoveFromCoprocessor(unsigned int coprocessor, unsigned int opcode1, unsigned int crn,
                                             unsigned int crm, unsigned int opcode2);

// The entry point. Windows CE is Unicode only, and its WinMain takes the wide
// command line: the signature a desktop SDK gives wWinMain.
#define WinMain wWinMain

// Not in any SDK: the form in which platform/winuser.h lists the program's
// resource section (on a module the resource compiler builds it into the
// executable), so that res/ compiles here as on the module.
typedef struct _RESOURCE_ENTRY {
    LPCWSTR type;
    LPCWSTR name;
    WORD language;
    const void* data;
    DWORD size;
} RESOURCE_ENTRY;
