// Stands in for the NAND back-end until it exists: initialisation fails, so
// SelectFlashBackend reports no back-end on PXA3xx modules and every
// operation fails cleanly.
#include "flash/nand/nand_flash.h"

BOOL NandBackendInit(void) { return FALSE; }
BOOL NandEraseRange(DWORD, DWORD) { return FALSE; }
BOOL NandWriteWord(DWORD, DWORD) { return FALSE; }
BOOL NandWriteBuffer(const void*, DWORD, DWORD) { return FALSE; }
DWORD NandReadWord(DWORD) { return 0; }
BOOL NandReadBuffer(void*, DWORD, DWORD) { return FALSE; }
DWORD NandBlockSize(DWORD) { return 0; }
DWORD NandPageSize(void) { return 0; }
