// Relocation of a failing block to the reserve pool, and the erase of one
// logical block with retries and relocation.
#include "flash/nand/dfc_driver.h"
#include "flash/nand/nand_flash.h"
#include "flash/nand/nand_remap.h"

#include <string.h>

#define NAND_TRIES 3

static BYTE CopyPageBuffer[2048];
static BYTE CopySpareBuffer[8];

BOOL WriteSpareMapped(const void* buffer, DWORD offset, DWORD length) {
    if (!BbmtMapValid() || !MappedBlockValid(offset)) {
        return FALSE;
    }
    return NandWriteSpare(buffer, offset + PhysicalDelta(offset), length) == kNandDone;
}

static BOOL PageBlank(const BYTE* page, DWORD length) {
    for (DWORD i = 0; i < length; i++) {
        if (page[i] != 0xFF) {
            return FALSE;
        }
    }
    return TRUE;
}

static DWORD ReadPageWithRetries(void* buffer, DWORD physicalOffset, DWORD length) {
    DWORD code = kNandTimeout;
    for (int attempt = 0; attempt < NAND_TRIES && code != kNandDone; attempt++) {
        code = NandReadPages(buffer, physicalOffset, length);
    }
    return code;
}

// Copies the pages of the old physical block worth keeping into the logical
// block's new place: blank pages are left out, and so are the bytes
// [keepStart, keepStart + keepLength) that the caller writes again (they stay
// erased in the copy of a page they share with kept bytes).
static BOOL CopyKeptPages(DWORD offset, DWORD oldBlockStart, DWORD keepStart, DWORD keepLength) {
    DWORD pageSize = NandPageSize();
    DWORD blockSize = NandBlockSize();
    DWORD logicalBlockStart = offset & ~(blockSize - 1);
    DWORD index = LogicalBlockIndex(offset);
    unsigned long long keepEnd = (unsigned long long)keepStart + keepLength;

    // Pages already in the block the logical block maps to now; at most 64
    // pages per block.
    unsigned long long present = 0;
    for (DWORD inBlock = 0; inBlock < blockSize; inBlock += pageSize) {
        unsigned long long pageBit = 1ull << (inBlock / pageSize);
        DWORD cur = oldBlockStart + inBlock;
        unsigned long long pageEnd = (unsigned long long)cur + pageSize;
        if ((present & pageBit) != 0 || (cur >= keepStart && pageEnd <= keepEnd)) {
            continue;
        }
        // A page that cannot be read fails the relocation rather than lose
        // its contents or be tried without end.
        if (ReadPageWithRetries(CopyPageBuffer, cur, pageSize) != kNandDone) {
            return FALSE;
        }
        if (keepStart < pageEnd && keepEnd > cur) {
            DWORD from = keepStart > cur ? keepStart - cur : 0;
            DWORD to = keepEnd < pageEnd ? (DWORD)(keepEnd - cur) : pageSize;
            memset(CopyPageBuffer + from, 0xFF, to - from);
        }
        if (PageBlank(CopyPageBuffer, pageSize)) {
            continue;
        }

        DWORD mappedBefore = BbmtMapEntry(index);
        RawAccess = TRUE;
        BOOL written = NandWriteBuffer(CopyPageBuffer, logicalBlockStart + inBlock, pageSize);
        RawAccess = FALSE;
        if (!written || NandReadSpare(CopySpareBuffer, cur, sizeof(CopySpareBuffer)) != kNandDone) {
            return FALSE;
        }
        (void)WriteSpareMapped(CopySpareBuffer, logicalBlockStart + inBlock, sizeof(CopySpareBuffer));
        present |= pageBit;
        // The page's own write moved the block again: the pages copied before
        // it stayed behind, so the copy starts over into the newest block.
        if (BbmtMapEntry(index) != mappedBefore) {
            present = pageBit;
            inBlock = (DWORD)0 - pageSize;
        }
    }
    return TRUE;
}

BOOL RelocateBlock(DWORD offset, DWORD keepLength) {
    DWORD index = LogicalBlockIndex(offset);
    DWORD old = offset + PhysicalDelta(offset);
    DWORD oldBlock = LogicalBlockIndex(old);

    // Block 0 holds the relocation table itself.
    if (index == 0) {
        return FALSE;
    }

    BOOL loadedHere = FALSE;
    if (RelocTableStale) {
        // A page that could not be read is not a table to add entries to.
        if (!ReadRelocTable() || !RelocTableHeaderValid()) {
            return FALSE;
        }
        RelocTableStale = FALSE;
        loadedHere = TRUE;
    }

    DWORD newBlock, slot;
    BOOL result = FindReplacementBlock(index, &newBlock, &slot);
    if (result) {
        SetRelocEntry(slot, index, newBlock);
        SetBbmtMapEntry(index, newBlock);
        result = EraseLogicalBlock(offset);
        if (result && keepLength != 0) {
            result = CopyKeptPages(offset, oldBlock << BlockShift, old, keepLength);
        }
    }

    // Only the outermost relocation writes the table page back.
    if (loadedHere) {
        RelocTableStale = TRUE;
        if (result && !StoreRelocTable()) {
            result = FALSE;
        }
        // A relocation whose entry never reached the table page leaves the
        // block where the page says it is: the running system's map must not
        // send it to a replacement that the next boot forgets.
        if (!result) {
            SetBbmtMapEntry(index, oldBlock);
        }
    }
    return result;
}

BOOL EraseLogicalBlock(DWORD offset) {
    if (!BbmtMapValid()) {
        return FALSE;
    }
    BOOL tableBlock = LogicalBlockIndex(offset) == 0;
    for (;;) {
        if (!MappedBlockValid(offset)) {
            return FALSE;
        }
        DWORD delta = PhysicalDelta(offset);
        // The table page lives in block 0: it is read before the erase and
        // written back after. If it cannot be read, erasing would lose it.
        if (tableBlock && !ReadRelocTable()) {
            return FALSE;
        }

        // A block the maker marked bad is taken as one whose erase failed,
        // without a try.
        DWORD code = kNandTimeout;
        if (NandBlockMarkedBad(offset + delta)) {
            code = kNandBadBlock;
        }
        for (int attempt = 0; attempt < NAND_TRIES && code != kNandDone && !(code & kNandBadBlock); attempt++) {
            code = NandEraseBlock(offset + delta);
        }

        if (code & kNandBadBlock) {
            if (tableBlock || !RelocateBlock(offset, 0) || !BbmtMapValid()) {
                return FALSE;
            }
            continue;
        }
        if (tableBlock) {
            (void)WriteRelocTable();
        }
        return code == kNandDone;
    }
}
