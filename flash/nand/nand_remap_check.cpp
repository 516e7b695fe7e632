// Checking the block relocation before an update follows it. The shared map
// may have been built by another process, and the table page is what the next
// relocation and the running system's next map build follow; a damaged entry
// in either would send data onto the boot area, past the device, or onto a
// block that already holds another block's data.
#include "flash/flash_ops.h"
#include "flash/nand/dfc_driver.h"
#include "flash/nand/nand_flash.h"
#include "flash/nand/nand_remap.h"

#include <string.h>

// Where each block lies, as the map or the table page gives it.
static WORD CheckedPlaces[BBMT_MAP_ENTRIES];
// One bit per physical block: some logical block lies there.
static BYTE PlaceTaken[BBMT_MAP_ENTRIES / 8];

static BOOL Taken(DWORD block) { return (PlaceTaken[block >> 3] & (1u << (block & 7))) != 0; }

static void Take(DWORD block) { PlaceTaken[block >> 3] |= (BYTE)(1u << (block & 7)); }

// Every logical block the system addresses must lie in a block of its own
// inside the device. Block 0 holds the table page and the boot area, so only
// logical block 0 lies there (and it never moves), and no other block lies in
// a block of the boot area.
static BOOL PlacesSound(DWORD* logicalBlock, DWORD* physicalBlock) {
    DWORD blocks = NandBlockCount();
    DWORD used = blocks - ReserveBlockCount;
    DWORD bootBlocks = NandBootAreaEnd() / NandBlockSize();
    memset(PlaceTaken, 0, sizeof PlaceTaken);
    // Blocks in their own place first, so that the entry that moved another
    // block onto one of them is the one named.
    for (DWORD i = 0; i < used; i++) {
        if (CheckedPlaces[i] == i) {
            Take(i);
        }
    }
    for (DWORD i = 0; i < used; i++) {
        DWORD place = CheckedPlaces[i];
        if (place == i) {
            continue;
        }
        if (i == 0 || place >= blocks || place < bootBlocks || Taken(place)) {
            *logicalBlock = i;
            *physicalBlock = place;
            return FALSE;
        }
        Take(place);
    }
    return TRUE;
}

static BOOL MapSound(DWORD* logicalBlock, DWORD* physicalBlock) {
    DWORD blocks = NandBlockCount();
    for (DWORD i = 0; i < blocks; i++) {
        CheckedPlaces[i] = (WORD)BbmtMapEntry(i);
    }
    return PlacesSound(logicalBlock, physicalBlock);
}

// The places the table page gives: every block in its own place, then the
// live entries in table order, as a map built from the page would have them.
static BOOL TableSound(DWORD* logicalBlock, DWORD* physicalBlock) {
    DWORD blocks = NandBlockCount();
    for (DWORD i = 0; i < blocks; i++) {
        CheckedPlaces[i] = (WORD)i;
    }
    DWORD entries = CountRelocEntries();
    for (DWORD k = 0; k < entries; k++) {
        DWORD logical = RelocEntryLogical(k);
        DWORD physical = RelocEntryPhysical(k);
        if (logical == 0) {
            continue;
        }
        if (logical >= blocks || physical >= blocks) {
            *logicalBlock = logical;
            *physicalBlock = physical;
            return FALSE;
        }
        CheckedPlaces[logical] = (WORD)physical;
    }
    return PlacesSound(logicalBlock, physicalBlock);
}

DWORD NandCheckRemap(DWORD* logicalBlock, DWORD* physicalBlock) {
    // Without a map or a chip every range operation refuses on its own.
    if (!BbmtMapValid() || !NandChipIdentified()) {
        return kRemapSound;
    }
    if (!MapSound(logicalBlock, physicalBlock)) {
        return kRemapMapDamaged;
    }
    // A page that cannot be read, or holds no table, has no entries to follow.
    if (!ReadRelocTable() || !RelocTableHeaderValid()) {
        return kRemapSound;
    }
    return TableSound(logicalBlock, physicalBlock) ? kRemapSound : kRemapTableDamaged;
}
