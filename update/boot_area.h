// The staged boot area of NAND flash: written after every record, then read
// back and compared.
#pragma once
#include "platform/windows.h"

// Writes StagingBuffer[0 .. BOOT_AREA_WRITE_SIZE) in erase-block pieces and
// checks it; shows its own message and returns FALSE on failure. Only the
// pieces inside the image's erased range are written: the others hold older
// flash contents that programming would damage (with ECC on, even a page of
// 0xFF overwrites the stored ECC bytes). Staged data for such a piece fails
// the write instead of landing on flash that was not erased.
BOOL WriteStagedBootArea(HWND owner, DWORD imageStart, DWORD imageLength);
