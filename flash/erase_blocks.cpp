// The erase walk that both back-ends share once the range is widened to whole
// blocks: range check, progress reports before blocks, one erase per block.
#include "flash/flash_ops.h"

BOOL EraseBlocks(DWORD start, DWORD total, DWORD (*blockSize)(DWORD offset), BOOL (*eraseBlock)(DWORD blockOffset)) {
    // Summed in 64 bits so that a range wrapping past 4 GB cannot pass.
    if ((unsigned long long)start + total > FlashDeviceSize) {
        return FALSE;
    }
    if (total == 0) {
        return TRUE;
    }

    // The threshold is kept wide so that a huge step cannot wrap it back below
    // the bytes done and bring on reports the step asked to skip.
    DWORD bytesDone = 0;
    unsigned long long threshold = 0;
    while (bytesDone < total) {
        if (EraseProgressHook.callback != NULL && bytesDone >= threshold) {
            if (!EraseProgressHook.callback(bytesDone, total)) {
                return FALSE;
            }
            threshold += EraseProgressHook.step;
        }

        DWORD blockOffset = start + bytesDone;
        DWORD size = blockSize(blockOffset);
        // A zero block size would never cover the range.
        if (size == 0 || !eraseBlock(blockOffset)) {
            return FALSE;
        }
        if (size >= total - bytesDone) {
            break;
        }
        bytesDone += size;
    }
    return TRUE;
}
