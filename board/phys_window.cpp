// Uncached windows onto physical address ranges.
#include <string.h>

#include "board/hal_ioctl.h"
#include "board/phys_window.h"

enum {
    kRegisterWindowSize = 0x2000,
    kCommitPieceSize = 0x2000000,  // physical pages are committed 32 MB at a time
};

static const ULONG_PTR kPageMask = PHYS_PAGE_SIZE - 1;

BOOL CommitPhysicalPages(void* virtualAddress, DWORD physicalBy256, DWORD size, DWORD protection) {
    if (OsMajorVersionBelow6()) {
        return VirtualCopy(virtualAddress, (LPVOID)(ULONG_PTR)physicalBy256, size, protection);
    }

    KERNEL_COMMIT_REQUEST request;
    memset(&request, 0, sizeof request);
    request.operation = kKernelCallCommitPages;
    request.destination = virtualAddress;
    request.physicalBy256 = physicalBy256;
    request.size = size;
    request.protection = protection;

    DWORD committed = 0;
    if (!KernelIoControl(IOCTL_HAL_CALL_KERNEL_MODE, &request, sizeof request, &committed, sizeof committed, NULL)) {
        return FALSE;
    }
    return committed;
}

// The returned pointer lies in the region's first page, at the physical
// address's page offset rounded down to a whole word.
static volatile ULONG* WindowPointer(void* base, DWORD physicalAddress) {
    return (volatile ULONG*)((BYTE*)base + (physicalAddress & 0xFFC));
}

volatile ULONG* MapRegisterWindow(DWORD physicalAddress) {
    void* base = VirtualAlloc(NULL, kRegisterWindowSize, MEM_RESERVE, PAGE_NOACCESS);
    if (base == NULL) {
        return NULL;
    }
    // The page that holds the address and the page after it.
    DWORD firstPage = physicalAddress & 0xFFFFF000;
    if (!CommitPhysicalPages(base, firstPage / 256, kRegisterWindowSize, PHYS_WINDOW_PROTECTION)) {
        VirtualFree(base, 0, MEM_RELEASE);
        return NULL;
    }
    return WindowPointer(base, physicalAddress);
}

volatile ULONG* MapPhysicalRange(DWORD physicalAddress, DWORD length) {
    DWORD pageOffset = physicalAddress & 0xFFF;
    DWORD firstPage = physicalAddress & 0xFFFFF000;
    // Whole pages, counted wide: a range that wraps past the end of the
    // physical address space, or covers nothing, maps nothing.
    unsigned long long total = ((unsigned long long)pageOffset + length + 0xFFF) & ~0xFFFull;
    if (total == 0 || total > 0xFFFFFFFFull || firstPage + total > 0x100000000ull) {
        return NULL;
    }

    void* base = VirtualAlloc(NULL, (DWORD)total, MEM_RESERVE, PAGE_NOACCESS);
    if (base == NULL) {
        return NULL;
    }

    // Pieces of at most 32 MB; a failed piece takes the whole region with it.
    for (unsigned long long done = 0; done < total; done += kCommitPieceSize) {
        unsigned long long pieceSize = total - done;
        if (pieceSize > kCommitPieceSize) {
            pieceSize = kCommitPieceSize;
        }
        DWORD piecePhysical = firstPage + (DWORD)done;
        if (!CommitPhysicalPages((BYTE*)base + done, piecePhysical / 256, (DWORD)pieceSize, PHYS_WINDOW_PROTECTION)) {
            VirtualFree(base, 0, MEM_RELEASE);
            return NULL;
        }
    }
    return WindowPointer(base, physicalAddress);
}

BOOL UnmapWindow(volatile void* pointer) {
    // Every window's pointer lies in its region's first page.
    ULONG_PTR base = (ULONG_PTR)pointer & ~kPageMask;
    return VirtualFree((LPVOID)base, 0, MEM_RELEASE);
}
