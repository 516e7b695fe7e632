// Block lock bits: the pair is unlocked above the boot area at start, and each
// block again before it is erased.
#include "flash/nor/nor_commands.h"

void NorUnlockAll(void) {
    // The boot area keeps its lock state; NorEraseBlock unlocks what it erases.
    for (DWORD offset = 0; offset < FlashDeviceSize; offset += NorBlockSize(offset)) {
        if (offset >= kNorBootArea) {
            NorUnlockBlock(offset);
        }
    }
}

static BOOL NorBlockLocked(DWORD offset) {
    NorCommand(offset, kNorReadIdentifier);
    return (NorReadBus(offset + kNorIdentifierLock) & kNorLockBits) != 0;
}

BOOL NorUnlockBlock(DWORD offset) {
    if (!NorBlockLocked(offset)) {
        NorCommand(offset, kNorReadArray);
        return TRUE;
    }

    NorCommand(offset, kNorLockSetup);
    NorCommand(offset, kNorConfirm);

    // A J3 pair clears every block's bit and stays busy for about half a
    // second, answering reads with status and ignoring commands meanwhile: the
    // lock word can only be trusted once both chips are ready again.
    DWORD status;
    if (!NorWaitReady(offset, GetTickCount(), kNorClearLockTimeoutMs, kNorClearLockPollSleepMs, &status)) {
        NorCommand(offset, kNorReadArray);
        return FALSE;
    }
    if (status & kNorEraseErrorBits) {
        NorFailWithStatus(offset);
        return FALSE;
    }

    BOOL stillLocked = NorBlockLocked(offset);
    NorCommand(offset, kNorReadArray);
    return !stillLocked;
}
