// Erasing the NOR pair: ranges widened to whole blocks, blocks that already
// read all ones left alone.
#include "flash/nor/nor_commands.h"

BOOL NorBlankCheck(DWORD offset, DWORD length) {
    // Only whole words count.
    for (DWORD done = 0; length - done >= 4; done += 4) {
        if (NorReadBus(offset + done) != 0xFFFFFFFF) {
            return FALSE;
        }
    }
    return TRUE;
}

BOOL NorEraseBlock(DWORD offset) {
    if (!NorUnlockBlock(offset)) {
        return FALSE;
    }
    if (NorBlankCheck(offset, NorBlockSize(offset))) {
        return TRUE;
    }

    NorCommand(offset, kNorBlockEraseSetup);
    NorCommand(offset, kNorConfirm);
    DWORD startTick = GetTickCount();

    DWORD status;
    if (!NorWaitReady(offset, startTick, kNorEraseTimeoutMs, kNorErasePollSleepMs, &status)) {
        NorCommand(offset, kNorReadArray);
        return FALSE;
    }
    // The error bits are read again once the pair is ready.
    status = NorReadBus(offset);
    if (status & kNorEraseErrorBits) {
        NorFailWithStatus(offset);
        return FALSE;
    }
    NorCommand(offset, kNorReadArray);
    return TRUE;
}

BOOL NorEraseBounds(DWORD offset, DWORD length, DWORD* start, DWORD* total) {
    // Widen to whole blocks: back to the start of the block holding offset,
    // forward to the first block boundary at or after offset + length. Blocks
    // are aligned to their size. The end is kept wide so that it cannot wrap.
    DWORD first = offset - offset % NorBlockSize(offset);
    unsigned long long requestedEnd = (unsigned long long)offset + length;
    unsigned long long end = first;
    while (end < requestedEnd && end < FlashDeviceSize) {
        end += NorBlockSize((DWORD)end);
    }
    if (end < requestedEnd || end > FlashDeviceSize) {
        return FALSE;
    }
    *start = first;
    *total = (DWORD)(end - first);
    return TRUE;
}

BOOL NorEraseRange(DWORD offset, DWORD length) {
    DWORD start, total;
    if (!NorEraseBounds(offset, length, &start, &total)) {
        return FALSE;
    }
    return EraseBlocks(start, total, NorBlockSize, NorEraseBlock);
}
