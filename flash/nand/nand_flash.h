// The NAND back-end's FlashOps column and its initialisation.
#pragma once
#include "platform/windows.h"

BOOL NandBackendInit(void);
BOOL NandEraseRange(DWORD offset, DWORD length);
BOOL NandWriteWord(DWORD offset, DWORD value);
BOOL NandWriteBuffer(const void* source, DWORD offset, DWORD length);
DWORD NandReadWord(DWORD offset);
BOOL NandReadBuffer(void* destination, DWORD offset, DWORD length);
DWORD NandBlockSize(DWORD offset);
DWORD NandPageSize(void);
