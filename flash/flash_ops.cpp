// The flash operations table, the shared flash state beside it and the choice
// of back-end by processor.
#include "flash/flash_ops.h"

#include "board/cpu_product.h"
#include "flash/nand/nand_flash.h"
#include "flash/nor/nor_flash.h"

FLASH_OPS FlashOps;
DWORD FlashBackend;
BOOL FlashInitialised;
DWORD FlashDeviceSize;
ERASE_PROGRESS_HOOK EraseProgressHook;

// The two columns of the table. NOR has no page size, stores every byte and
// relocates nothing.
static const FLASH_OPS kNorOps = {
    NorEraseRange, NorWriteWord, NorWriteBuffer, NorReadWord, NorReadBuffer,
    NorBlockSize,  NULL,         NULL,           NULL,        NorEraseBounds,
};

static const FLASH_OPS kNandOps = {
    NandEraseRange, NandWriteWord, NandWriteBuffer,   NandReadWord,   NandReadBuffer,
    NandBlockSize,  NandPageSize,  NandUnstoredRange, NandCheckRemap, NandEraseBounds,
};

int SelectFlashBackend(void) {
    // Once a back-end is up it stays for the process.
    if (FlashInitialised) {
        return 1;
    }

    BOOL initialised;
    if (ReadCpuProductId() == kProductPxa27x) {
        FlashBackend = kFlashBackendNor;
        initialised = NorInit();
        FlashOps = kNorOps;
    } else {
        FlashBackend = kFlashBackendNand;
        initialised = NandBackendInit();
        FlashOps = kNandOps;
    }

    // A failed initialisation leaves the table filled; the next call tries again.
    FlashInitialised = initialised;
    if (!initialised) {
        FlashBackend = kFlashBackendNone;
        return 0;
    }
    return (int)FlashBackend;
}

void SetEraseProgressHook(ERASE_PROGRESS_CALLBACK callback, DWORD step) {
    EraseProgressHook.callback = callback;
    EraseProgressHook.step = step;
}
