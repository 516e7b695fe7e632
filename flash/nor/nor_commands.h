// Command words, status bits and single-word access for the NOR pair. Every
// command is the chip command doubled into both 16-bit halves of the bus word;
// every value read back carries one chip in each half.
#pragma once
#include "platform/ceddk.h"
#include "platform/windows.h"

#include "flash/flash_ops.h"
#include "flash/nor/nor_flash.h"

enum {
    kNorReadArray = 0x00FF00FF,
    kNorReadIdentifier = 0x00900090,
    kNorReadQuery = 0x00980098,
    kNorClearStatus = 0x00500050,
    kNorLockSetup = 0x00600060,
    kNorConfirm = 0x00D000D0,
    kNorBlockEraseSetup = 0x00200020,
    kNorWordProgramSetup = 0x00400040,
    kNorWriteToBuffer = 0x00E800E8,
    kNorCountUnit = 0x00010001,  // a chunk of n words is announced as (n - 1) * kNorCountUnit
};

enum {
    kNorManufacturerIntel = 0x00890089,
    kNorReady = 0x00800080,           // SR7 of both chips: ready, or write buffer available
    kNorLockBits = 0x00010001,        // lock configuration: block locked
    kNorEraseErrorBits = 0x002A002A,  // SR5 erase/clear-lock error, SR3 VPP low, SR1 block locked
    // Programs also fail on SR4, the program error bit.
    kNorProgramErrorBits = 0x003A003A,
};

enum {
    kNorIdentifierManufacturer = 0x00,
    kNorIdentifierDevice = 0x04,
    kNorIdentifierLock = 0x08,   // chip word address 2 of a block
    kNorQueryDeviceSize = 0x9C,  // query address 0x27 on the doubled bus
};

enum {
    kNorSmallBlockSize = 0x10000,
    kNorBlockSize = 0x40000,
    kNorBootArea = 0x40000,  // class 3 parameter blocks; kept locked by NorUnlockAll
    kNorMaxDeviceSize = 0x4000000,
};

// Time-outs in milliseconds, measured on GetTickCount.
enum {
    kNorEraseTimeoutMs = 10000,
    kNorErasePollSleepMs = 100,
    kNorWordTimeoutMs = 1000,
    kNorChunkTimeoutMs = 2000,
    // Clearing the lock bits of a J3 pair keeps it busy about half a second.
    kNorClearLockTimeoutMs = 5000,
    kNorClearLockPollSleepMs = 10,
};

inline void NorCommand(DWORD offset, DWORD value) { WRITE_REGISTER_ULONG(NorWindow + offset / 4, value); }

inline DWORD NorReadBus(DWORD offset) { return READ_REGISTER_ULONG(NorWindow + offset / 4); }

inline BOOL NorRangeValid(DWORD offset, DWORD length) {
    return offset < FlashDeviceSize && (unsigned long long)offset + length <= FlashDeviceSize;
}

// Polls the status word at offset until both chips are ready. The status is
// read before the clock is looked at, so a ready pair is never reported as
// timed out. A zero sleep busy-polls. The ready status word goes to *status.
BOOL NorWaitReady(DWORD offset, DWORD startTick, DWORD timeoutMs, DWORD sleepMs, DWORD* status);

// Error bits stick until cleared: a failure clears them so that they do not
// fail later operations, then leaves the pair in read-array mode.
void NorFailWithStatus(DWORD offset);
