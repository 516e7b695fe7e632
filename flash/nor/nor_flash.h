// The NOR back-end: two 16-bit Intel command-set chips side by side on the
// 32-bit bus at physical address 0.
#pragma once
#include "platform/windows.h"

BOOL NorInit(void);
BOOL NorEraseRange(DWORD offset, DWORD length);
BOOL NorEraseBounds(DWORD offset, DWORD length, DWORD* start, DWORD* total);
BOOL NorWriteWord(DWORD offset, DWORD value);
BOOL NorWriteBuffer(const void* source, DWORD offset, DWORD length);
DWORD NorReadWord(DWORD offset);
BOOL NorReadBuffer(void* destination, DWORD offset, DWORD length);
DWORD NorBlockSize(DWORD offset);

void NorUnlockAll(void);
BOOL NorUnlockBlock(DWORD offset);
BOOL NorEraseBlock(DWORD offset);
BOOL NorBlankCheck(DWORD offset, DWORD length);

extern volatile ULONG* NorWindow;
extern DWORD NorGeometryClass;
