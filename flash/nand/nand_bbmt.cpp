// The shared block map, the relocation table page and the search for a
// replacement block.
#include "flash/nand/dfc_driver.h"
#include "flash/nand/nand_flash.h"
#include "flash/nand/nand_remap.h"

BYTE* BbmtMap;
DWORD ReserveBlockCount;
DWORD RelocTableOffset;
DWORD RelocTableLength;
BYTE RelocTableBuffer[RELOC_TABLE_MAX_LENGTH];
BOOL RelocTableStale = TRUE;
DWORD BlockShift;
BOOL RawAccess;

// All shared values are little-endian 16-bit words at even offsets.
static DWORD ReadLe16(const BYTE* bytes) { return (DWORD)bytes[0] | (DWORD)bytes[1] << 8; }

static void WriteLe16(BYTE* bytes, DWORD value) {
    bytes[0] = (BYTE)value;
    bytes[1] = (BYTE)(value >> 8);
}

BOOL BbmtMapValid(void) {
    if (BbmtMap == NULL) {
        return FALSE;
    }
    DWORD magic = (DWORD)BbmtMap[0] | (DWORD)BbmtMap[1] << 8 | (DWORD)BbmtMap[2] << 16 | (DWORD)BbmtMap[3] << 24;
    return magic == BBMT_MAGIC;
}

DWORD BbmtMapEntry(DWORD logicalBlock) {
    // Beyond the map no block is mapped; the value names no block of any chip.
    if (BbmtMap == NULL || logicalBlock >= BBMT_MAP_ENTRIES) {
        return 0xFFFF;
    }
    return ReadLe16(BbmtMap + 4 + 2 * logicalBlock);
}

void SetBbmtMapEntry(DWORD logicalBlock, DWORD physicalBlock) {
    if (BbmtMap != NULL && logicalBlock < BBMT_MAP_ENTRIES) {
        WriteLe16(BbmtMap + 4 + 2 * logicalBlock, physicalBlock);
    }
}

BOOL OpenBbmtMap(void) {
    if (BbmtMap != NULL) {
        return TRUE;
    }
    // The running system's driver may have created the mapping already; then
    // this opens the same memory.
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, BBMT_MAP_SIZE, BBMT_MAP_NAME);
    if (mapping == NULL) {
        return FALSE;
    }
    BbmtMap = (BYTE*)MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    return BbmtMap != NULL;
}

DWORD RelocTableSlots(void) {
    DWORD length = RelocTableLength <= RELOC_TABLE_MAX_LENGTH ? RelocTableLength : 0;
    return length >= 4 ? (length - 4) / 4 : 0;
}

DWORD RelocEntryLogical(DWORD slot) { return ReadLe16(RelocTableBuffer + 4 + 4 * slot); }

DWORD RelocEntryPhysical(DWORD slot) { return ReadLe16(RelocTableBuffer + 6 + 4 * slot); }

void SetRelocEntry(DWORD slot, DWORD logicalBlock, DWORD physicalBlock) {
    WriteLe16(RelocTableBuffer + 4 + 4 * slot, logicalBlock);
    WriteLe16(RelocTableBuffer + 6 + 4 * slot, physicalBlock);
}

BOOL RelocTableHeaderValid(void) { return ReadLe16(RelocTableBuffer) == RELOC_TABLE_HEADER; }

DWORD CountRelocEntries(void) {
    // A damaged page without an end mark counts as full; the scan never
    // leaves the page.
    DWORD slots = RelocTableSlots();
    for (DWORD slot = 0; slot < slots; slot++) {
        if (RelocEntryLogical(slot) == RELOC_TABLE_END) {
            return slot;
        }
    }
    return slots;
}

BOOL ReadRelocTable(void) {
    RawAccess = TRUE;
    BOOL result = NandReadBuffer(RelocTableBuffer, RelocTableOffset, RelocTableLength);
    RawAccess = FALSE;
    return result;
}

BOOL WriteRelocTable(void) {
    RawAccess = TRUE;
    BOOL result = NandWriteBuffer(RelocTableBuffer, RelocTableOffset, RelocTableLength);
    RawAccess = FALSE;
    return result;
}

DWORD LogicalBlockIndex(DWORD offset) {
    if (BlockShift == 0) {
        for (DWORD size = NandBlockSize(); size > 1; size >>= 1) {
            BlockShift++;
        }
    }
    return offset >> BlockShift;
}

DWORD PhysicalDelta(DWORD offset) {
    DWORD index = LogicalBlockIndex(offset);
    return (BbmtMapEntry(index) - index) * NandBlockSize();
}

BOOL MappedBlockValid(DWORD offset) { return BbmtMapEntry(LogicalBlockIndex(offset)) < NandBlockCount(); }

BOOL FindReplacementBlock(DWORD logicalBlock, DWORD* block, DWORD* slot) {
    LONG blocks = (LONG)NandBlockCount();
    LONG lowest = blocks - (LONG)ReserveBlockCount;
    DWORD entries = CountRelocEntries();
    // The new entry goes into the end mark's slot, and the slot after it must
    // stay free as the new end mark.
    if (entries + 1 >= RelocTableSlots()) {
        return FALSE;
    }
    // The page is programmed again without an erase, so only bits still 1
    // can take the new entry: on a damaged page whose end mark's slot or the
    // next logical half is not erased, the entry would read back as another
    // block.
    if (RelocEntryPhysical(entries) != RELOC_TABLE_END || RelocEntryLogical(entries + 1) != RELOC_TABLE_END) {
        return FALSE;
    }

    // Start just below the lowest replacement in use, the failing one included.
    LONG candidate = blocks - 1;
    for (DWORD k = 0; k < entries; k++) {
        LONG physical = (LONG)RelocEntryPhysical(k);
        if (RelocEntryLogical(k) != 0 && physical <= candidate) {
            candidate = physical - 1;
        }
        if (RelocEntryLogical(k) == logicalBlock) {
            SetRelocEntry(k, 0, RelocEntryPhysical(k));
        }
    }

    // No block named by any entry, live or void, is handed out again, nor
    // one the maker marked bad.
    for (;;) {
        if (candidate < lowest) {
            return FALSE;
        }
        BOOL changed = FALSE;
        for (DWORD k = 0; k < entries; k++) {
            if ((LONG)RelocEntryPhysical(k) == candidate) {
                candidate--;
                changed = TRUE;
            }
        }
        if (!changed && NandBlockMarkedBad((DWORD)candidate * NandBlockSize())) {
            candidate--;
            changed = TRUE;
        }
        if (!changed) {
            break;
        }
    }
    *block = (DWORD)candidate;
    *slot = entries;
    return TRUE;
}
