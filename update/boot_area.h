// The staged boot area of NAND flash: written after every record, then read
// back and compared.
#pragma once
#include "platform/windows.h"

// Writes StagingBuffer[0 .. BOOT_AREA_WRITE_SIZE) in erase-block pieces and
// checks it. Only the pieces inside the blocks the erase reached, [erasedStart,
// erasedEnd), are written: the others still hold their flash contents, which
// programming would damage (with ECC on, even a page of 0xFF overwrites the
// stored ECC bytes). Records and kept bytes are staged only inside the erased
// blocks. On failure returns FALSE, after its own message when report is set.
BOOL WriteStagedBootArea(HWND owner, DWORD erasedStart, DWORD erasedEnd, BOOL report);
