// Uncached windows onto physical address ranges, and calls into kernel mode
// through the HAL.
#pragma once
#include "platform/windows.h"

#define PHYS_PAGE_SIZE 0x1000
#define PHYS_WINDOW_PROTECTION (PAGE_READWRITE | PAGE_NOCACHE | PAGE_PHYSICAL)

// Three words in the caller's memory: the routine and its two arguments.
typedef struct TRAMPOLINE_RECORD {
    DWORD (*routine)(DWORD first, DWORD second);
    DWORD first;
    DWORD second;
} TRAMPOLINE_RECORD;

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(TRAMPOLINE_RECORD) == 12, "trampoline record is three words");
#endif

BOOL OsMajorVersionBelow6(void);
DWORD KernelCall(void* routine, ULONG_PTR argument);
DWORD KernelTrampoline(ULONG_PTR record);
BOOL CommitPhysicalPages(void* virtualAddress, DWORD physicalBy256, DWORD size, DWORD protection);
volatile ULONG* MapRegisterWindow(DWORD physicalAddress);
volatile ULONG* MapPhysicalRange(DWORD physicalAddress, DWORD length);
BOOL UnmapWindow(volatile void* pointer);
