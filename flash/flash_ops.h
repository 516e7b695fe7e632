// The table of flash operations of the selected back-end, the shared flash
// state beside it, and the back-end selection. Offsets and lengths are byte
// counts from the start of the flash device.
#pragma once
#include "platform/windows.h"

typedef struct FLASH_OPS {
    BOOL (*EraseRange)(DWORD offset, DWORD length);
    BOOL (*WriteWord)(DWORD offset, DWORD value);
    BOOL (*WriteBuffer)(const void* source, DWORD offset, DWORD length);
    DWORD (*ReadWord)(DWORD offset);
    BOOL (*ReadBuffer)(void* destination, DWORD offset, DWORD length);
    DWORD (*BlockSize)(DWORD offset);
    DWORD (*PageSize)(void);
    // The part of the first 256 KiB that the device does not store, as
    // [*start, *end); FALSE when it stores all of it. Empty on NOR.
    BOOL (*UnstoredRange)(DWORD* start, DWORD* end);
    // Whether the block relocation the back-end is about to follow can be
    // trusted (kRemapSound), else where the first damaged entry is and which
    // of the two places holds it. Empty on NOR, which relocates nothing.
    DWORD (*CheckRemap)(DWORD* logicalBlock, DWORD* physicalBlock);
    // The whole blocks EraseRange(offset, length) erases, as [*start, *start +
    // *total), by the back-end's own block rule; FALSE when it refuses the
    // range. The update keeps what those blocks hold outside its image.
    BOOL (*EraseBounds)(DWORD offset, DWORD length, DWORD* start, DWORD* total);
} FLASH_OPS;

enum {
    kRemapSound = 0,
    kRemapMapDamaged = 1,    // the shared block map
    kRemapTableDamaged = 2,  // the relocation table page
};

enum {
    kFlashBackendNone = 0,
    kFlashBackendNor = 1,
    kFlashBackendNand = 2,
};

typedef BOOL (*ERASE_PROGRESS_CALLBACK)(DWORD bytesDone, DWORD bytesTotal);

typedef struct ERASE_PROGRESS_HOOK {
    ERASE_PROGRESS_CALLBACK callback;
    DWORD step;
} ERASE_PROGRESS_HOOK;

extern FLASH_OPS FlashOps;
extern DWORD FlashBackend;
extern BOOL FlashInitialised;
extern DWORD FlashDeviceSize;
extern ERASE_PROGRESS_HOOK EraseProgressHook;

int SelectFlashBackend(void);
void SetEraseProgressHook(ERASE_PROGRESS_CALLBACK callback, DWORD step);

// The block walk that both back-ends' EraseRange share once they have widened
// the range to whole blocks: range check against FlashDeviceSize, the
// progress hook before blocks, one eraseBlock call per block.
BOOL EraseBlocks(DWORD start, DWORD total, DWORD (*blockSize)(DWORD offset), BOOL (*eraseBlock)(DWORD blockOffset));
