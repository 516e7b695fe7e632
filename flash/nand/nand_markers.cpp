// Factory bad-block markers. A block the maker marked bad is never erased or
// programmed: a try may well succeed on such a block (the datasheet only
// promises that it is bad, not that it fails), and its erase would remove
// the marker that tells every later reader to keep away.
#include "flash/nand/dfc_driver.h"
#include "flash/nand/nand_remap.h"

// Spare bytes read: enough for the marker's place on either geometry.
#define MARKER_SPARE_BYTES 16
// The marker byte: spare byte 0 of a 2 KB page; byte 5 of each chip's
// 512-byte page, which on the doubled bus is byte 10 (low lane) and 11 (high
// lane) of the interleaved spare area.
#define LARGE_PAGE_MARKER 0
#define DOUBLED_MARKER_LOW 10
#define DOUBLED_MARKER_HIGH 11

BOOL NandBlockMarkedBad(DWORD physicalOffset) {
    DWORD block = physicalOffset & ~(NandBlockSize() - 1);
    BOOL doubled = NandBusDoubled();
    for (DWORD page = 0; page < 2; page++) {
        BYTE spare[MARKER_SPARE_BYTES];
        // A spare area that cannot be read shows no marker; the erase or
        // program that follows answers for the block.
        if (NandReadSpare(spare, block + page * NandPageSize(), sizeof spare) != kNandDone) {
            continue;
        }
        if (doubled ? spare[DOUBLED_MARKER_LOW] != 0xFF || spare[DOUBLED_MARKER_HIGH] != 0xFF
                    : spare[LARGE_PAGE_MARKER] != 0xFF) {
            return TRUE;
        }
    }
    return FALSE;
}
