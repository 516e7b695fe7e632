// Storing the relocation table page after a new entry. The page is never
// programmed again in place: it carries the controller's ECC, and a second
// program leaves the AND of two codes, which matches neither (the boot ROM
// reads the page through ECC); and the small-page parts allow one program of
// a page's main area per erase. Block 0 is read, erased and written again
// with the new table instead.
#include "flash/nand/dfc_driver.h"
#include "flash/nand/nand_flash.h"
#include "flash/nand/nand_remap.h"

#include <string.h>

#define NAND_TRIES 3
// Block 0 below the table page: at most 63 pages of 2 KB.
#define BLOCK_ZERO_DATA_MAX 0x1F800

static BYTE BlockZeroBuffer[BLOCK_ZERO_DATA_MAX];

static BOOL AllErased(const BYTE* bytes, DWORD length) {
    for (DWORD i = 0; i < length; i++) {
        if (bytes[i] != 0xFF) {
            return FALSE;
        }
    }
    return TRUE;
}

// Block 0's data below the table page are read, the block erased, then the
// data and the table page written again. The data are the boot area's own pages as
// the system stores them (the controller's ECC in the spare area); pages
// that were erased stay erased.
BOOL StoreRelocTable(void) {
    DWORD length = RelocTableOffset;
    // On the doubled bus block 0 is reached 8 bits wide: a chip's own pages.
    DWORD page = NandBusDoubled() ? NandPageSize() / 2 : NandPageSize();
    if (length > BLOCK_ZERO_DATA_MAX || !NandReadBuffer(BlockZeroBuffer, 0, length)) {
        return FALSE;
    }
    DWORD code = kNandTimeout;
    for (int attempt = 0; attempt < NAND_TRIES && code != kNandDone; attempt++) {
        code = NandEraseBlock(0);
        if (code & kNandBadBlock) {
            return FALSE;
        }
    }
    if (code != kNandDone) {
        return FALSE;
    }
    for (DWORD at = 0; at < length; at += page) {
        DWORD n = length - at < page ? length - at : page;
        if (!AllErased(BlockZeroBuffer + at, n) && !NandWriteBuffer(BlockZeroBuffer + at, at, n)) {
            return FALSE;
        }
    }
    return WriteRelocTable();
}
