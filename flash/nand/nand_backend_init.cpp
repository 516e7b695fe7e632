// The NAND back-end's initialisation: the shared block map, the controller,
// the table page and the usable device size.
#include "flash/flash_ops.h"
#include "flash/nand/dfc_driver.h"
#include "flash/nand/nand_flash.h"
#include "flash/nand/nand_remap.h"

#include <string.h>

static BOOL SmallPageId(DWORD id) { return id == 0x75EC || id == 0x76EC; }

// Builds the map from the table page: magic first, then the identity, then
// the entries in table order, so a later entry for a block wins.
static void BuildMapFromTable(void) {
    DWORD blocks = NandBlockCount();
    BbmtMap[0] = 'B';
    BbmtMap[1] = 'B';
    BbmtMap[2] = 'M';
    BbmtMap[3] = 'T';
    for (DWORD i = 0; i < blocks; i++) {
        SetBbmtMapEntry(i, i);
    }
    DWORD slots = RelocTableSlots();
    for (DWORD k = 0; k < slots; k++) {
        DWORD logical = RelocEntryLogical(k);
        if (logical == RELOC_TABLE_END) {
            break;
        }
        DWORD physical = RelocEntryPhysical(k);
        // A damaged entry is not applied: outside the map, past the device,
        // or onto block 0, which holds the table and the boot area.
        if (logical == 0 || logical >= blocks || physical == 0 || physical >= blocks) {
            continue;
        }
        SetBbmtMapEntry(logical, physical);
    }
}

BOOL NandBackendInit(void) {
    if (!OpenBbmtMap()) {
        return FALSE;
    }
    BOOL full = !BbmtMapValid();
    if (NandInitController(full) != kNandDone) {
        return FALSE;
    }

    // A second read that fails falls back on the answer of the
    // identification a moment ago.
    DWORD id = 0;
    BOOL smallPage = NandReadIdValid(&id) ? SmallPageId(id & 0xFFFF) : NandChipType <= 2;
    RelocTableOffset = smallPage ? 0x3E00 : 0x1F800;
    RelocTableLength = smallPage ? 512 : 2048;

    ReserveBlockCount = NandBlockCount() / 50;
    FlashDeviceSize = (NandBlockCount() - ReserveBlockCount) * NandBlockSize();
    if (!full) {
        return TRUE;
    }

    (void)NandReadPages(RelocTableBuffer, RelocTableOffset, RelocTableLength);
    if (!RelocTableHeaderValid()) {
        return FALSE;
    }
    BuildMapFromTable();
    return TRUE;
}

void NandBackendReset(void) {
    BbmtMap = NULL;
    ReserveBlockCount = 0;
    RelocTableOffset = 0;
    RelocTableLength = 0;
    memset(RelocTableBuffer, 0, sizeof(RelocTableBuffer));
    RelocTableStale = TRUE;
    BlockShift = 0;
    RawAccess = FALSE;
    NandChipType = 0;
    NandClockMHz = 104;
    NandRegisters = NULL;
    NandSavedControl = 0;
    for (int row = 0; row < NAND_CHIP_ROWS; row++) {
        NandBusConfig[row][kBusEccLive] = 0;
        NandBusConfig[row][kBusSpareLive] = 0;
    }
}
