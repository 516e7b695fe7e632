// Reading the NOR pair, which every operation leaves in read-array mode.
#include <string.h>

#include "flash/nor/nor_commands.h"

DWORD NorReadWord(DWORD offset) {
    // Words are read as whole aligned bus words only.
    if ((offset & 3) != 0 || !NorRangeValid(offset, 4)) {
        return 0;
    }
    return NorReadBus(offset);
}

BOOL NorReadBuffer(void* destination, DWORD offset, DWORD length) {
    if (!NorRangeValid(offset, length)) {
        return FALSE;
    }
    // In read-array mode the window reads as plain memory.
    memcpy(destination, (const BYTE*)(const ULONG*)NorWindow + offset, length);
    return TRUE;
}
