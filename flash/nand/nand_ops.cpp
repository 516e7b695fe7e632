// The NAND column of FlashOps. Offsets are logical: every access goes through
// the block map, and the boot area has a layout of its own that keeps the
// relocation table page in block 0 free of data.
#include "flash/flash_ops.h"
#include "flash/nand/dfc_driver.h"
#include "flash/nand/nand_flash.h"
#include "flash/nand/nand_remap.h"

#include <string.h>

#define NAND_TRIES 3
#define NAND_LARGEST_BLOCK 0x20000

// Pieces whose ends are not whole words go through this buffer, padded with
// 0xFF, because the page transfers move whole words only.
static BYTE WordBounceBuffer[NAND_LARGEST_BLOCK + 8];

// One piece of a range: inside one block, with the bytes after it that are
// not stored and the place it has in the device.
typedef struct NAND_PIECE {
    DWORD length;
    DWORD skip;
    DWORD physical;
    DWORD mappedOffset;  // a logical offset in the block that holds the piece
    BOOL stored;
} NAND_PIECE;

// The end of the boot area: two blocks of 128 KB, otherwise one block.
DWORD NandBootAreaEnd(void) {
    DWORD blockSize = NandBlockSize();
    return blockSize == 0x20000 ? 0x40000 : blockSize;
}

static BOOL AllErased(const BYTE* bytes, DWORD length) {
    for (DWORD i = 0; i < length; i++) {
        if (bytes[i] != 0xFF) {
            return FALSE;
        }
    }
    return TRUE;
}

static BOOL PlanPiece(DWORD offset, DWORD remaining, NAND_PIECE* piece) {
    DWORD blockSize = NandBlockSize();
    DWORD pageSize = NandPageSize();
    DWORD bootEnd = NandBootAreaEnd();
    DWORD inBlock = blockSize - offset % blockSize;

    piece->length = remaining < inBlock ? remaining : inBlock;
    piece->skip = 0;
    piece->mappedOffset = offset;
    piece->stored = TRUE;
    if (!RawAccess && offset < bootEnd) {
        if (offset < RelocTableOffset) {
            DWORD toTable = RelocTableOffset - offset;
            piece->length = piece->length < toTable ? piece->length : toTable;
        } else {
            // Shifted by one table page, into logical block 1 as it is mapped.
            piece->mappedOffset = offset + RelocTableLength;
            // On the doubled bus that place would be the low-lane chip's
            // second block, which is also the low lane of physical block 1:
            // two views of the same pages. This range is not stored there.
            piece->stored = !NandBusDoubled();
        }
        // The boot area's last page is not stored.
        if (offset >= bootEnd - pageSize) {
            return FALSE;
        }
        if (offset + piece->length > bootEnd - pageSize) {
            piece->skip = offset + piece->length - (bootEnd - pageSize);
            piece->length -= piece->skip;
        }
    }
    if (piece->stored) {
        if (!MappedBlockValid(piece->mappedOffset)) {
            return FALSE;
        }
        piece->physical = piece->mappedOffset + PhysicalDelta(piece->mappedOffset);
    }
    return TRUE;
}

static DWORD ProgramWithRetries(const void* source, DWORD physical, DWORD length) {
    DWORD code = kNandTimeout;
    for (int attempt = 0; attempt < NAND_TRIES; attempt++) {
        code = NandProgramPages(source, physical, length) & 0xFFFF;
        if (code == kNandDone || (code & kNandBadBlock)) {
            break;
        }
    }
    return code;
}

// Programs a piece with the controller's ECC in the spare area; the spare
// bytes sent are 0xFF.
static DWORD ProgramPiece(const BYTE* source, DWORD physical, DWORD length) {
    DWORD lead = physical & 3;
    DWORD code;
    NandEnableEcc(TRUE);
    NandEnableSpare(TRUE);
    if (lead == 0 && (length & 3) == 0) {
        code = ProgramWithRetries(source, physical, length);
    } else {
        DWORD words = (lead + length + 3) & ~3u;
        memset(WordBounceBuffer, 0xFF, words);
        memcpy(WordBounceBuffer + lead, source, length);
        code = ProgramWithRetries(WordBounceBuffer, physical - lead, words);
    }
    NandEnableEcc(FALSE);
    NandEnableSpare(FALSE);
    return code;
}

static DWORD ReadWithRetries(void* destination, DWORD physical, DWORD length) {
    DWORD code = kNandTimeout;
    for (int attempt = 0; attempt < NAND_TRIES && code != kNandDone; attempt++) {
        code = NandReadPages(destination, physical, length);
    }
    return code;
}

static DWORD ReadPiece(BYTE* destination, DWORD physical, DWORD length) {
    DWORD lead = physical & 3;
    if (lead == 0 && (length & 3) == 0) {
        return ReadWithRetries(destination, physical, length);
    }
    DWORD words = (lead + length + 3) & ~3u;
    DWORD code = ReadWithRetries(WordBounceBuffer, physical - lead, words);
    if (code == kNandDone) {
        memcpy(destination, WordBounceBuffer + lead, length);
    }
    return code;
}

// What every range operation checks first. A range past the usable device
// is refused rather than written or read beyond it.
static BOOL RangeUsable(DWORD offset, DWORD length) {
    return BbmtMapValid() && NandChipIdentified() && (unsigned long long)offset + length <= FlashDeviceSize;
}

BOOL NandWriteBuffer(const void* source, DWORD offset, DWORD length) {
    if (!BbmtMapValid()) {
        return FALSE;
    }
    if (length == 0) {
        return TRUE;
    }
    if (!RangeUsable(offset, length)) {
        return FALSE;
    }
    const BYTE* position = (const BYTE*)source;
    while (length != 0) {
        NAND_PIECE piece;
        if (!PlanPiece(offset, length, &piece)) {
            return FALSE;
        }
        if (!piece.stored) {
            // Nothing is stored here, so only erased bytes can be taken
            // without losing data.
            if (!AllErased(position, piece.length)) {
                return FALSE;
            }
        } else {
            DWORD code = ProgramPiece(position, piece.physical, piece.length);
            if (code & kNandBadBlock) {
                // Written again to the replacement block from the same place.
                DWORD keep = RawAccess ? 0 : piece.length;
                if (!RelocateBlock(piece.mappedOffset, keep) || !BbmtMapValid()) {
                    return FALSE;
                }
                continue;
            }
            if (code != kNandDone) {
                return FALSE;
            }
        }
        DWORD advance = piece.length + piece.skip;
        position += advance;
        offset += advance;
        length -= advance;
    }
    return TRUE;
}

BOOL NandReadBuffer(void* destination, DWORD offset, DWORD length) {
    if (!BbmtMapValid()) {
        return FALSE;
    }
    if (length == 0) {
        return TRUE;
    }
    if (!RangeUsable(offset, length)) {
        return FALSE;
    }
    BYTE* position = (BYTE*)destination;
    while (length != 0) {
        NAND_PIECE piece;
        if (!PlanPiece(offset, length, &piece)) {
            return FALSE;
        }
        // Bytes that are not stored are not read: the destination keeps them.
        if (piece.stored && ReadPiece(position, piece.physical, piece.length) != kNandDone) {
            return FALSE;
        }
        DWORD advance = piece.length + piece.skip;
        position += advance;
        offset += advance;
        length -= advance;
    }
    return TRUE;
}

BOOL NandWriteWord(DWORD offset, DWORD value) { return NandWriteBuffer(&value, offset, sizeof(value)); }

DWORD NandReadWord(DWORD offset) {
    // A failed read answers as erased flash.
    DWORD value = 0xFFFFFFFF;
    (void)NandReadBuffer(&value, offset, sizeof(value));
    return value;
}

DWORD NandBlockSize(DWORD offset) {
    (void)offset;
    return NandBlockSize();
}

BOOL NandUnstoredRange(DWORD* start, DWORD* end) {
    if (!NandChipIdentified()) {
        return FALSE;
    }
    *end = NandBootAreaEnd();
    *start = NandBusDoubled() ? RelocTableOffset : *end - NandPageSize();
    return TRUE;
}

BOOL NandEraseBounds(DWORD offset, DWORD length, DWORD* start, DWORD* total) {
    DWORD blockSize = NandBlockSize();
    DWORD first = offset & ~(blockSize - 1);
    unsigned long long covered = (unsigned long long)length + (offset - first);
    covered = (covered + blockSize - 1) / blockSize * blockSize;
    // The boot area's layout puts the bytes after the table page into its
    // second block, so its blocks do not hold the offsets the block rule
    // assumes: a range that meets the boot area erases all of it, and data
    // written anywhere in it lands on erased flash.
    DWORD bootEnd = NandBootAreaEnd();
    if (covered != 0 && first < bootEnd) {
        covered += first;
        first = 0;
        if (covered < bootEnd) {
            covered = bootEnd;
        }
    }
    // A range that does not fit in 32 bits lies past every device.
    if (covered > 0xFFFFFFFFull) {
        return FALSE;
    }
    *start = first;
    *total = (DWORD)covered;
    return TRUE;
}

BOOL NandEraseRange(DWORD offset, DWORD length) {
    DWORD start, total;
    if (!NandEraseBounds(offset, length, &start, &total)) {
        return FALSE;
    }
    return EraseBlocks(start, total, NandBlockSize, EraseLogicalBlock);
}
