// The NAND back-end's FlashOps column and its initialisation.
#pragma once
#include "platform/windows.h"

BOOL NandBackendInit(void);
BOOL NandEraseRange(DWORD offset, DWORD length);
BOOL NandWriteWord(DWORD offset, DWORD value);
BOOL NandWriteBuffer(const void* source, DWORD offset, DWORD length);
DWORD NandReadWord(DWORD offset);
BOOL NandReadBuffer(void* destination, DWORD offset, DWORD length);
// The chip's block size whatever the offset; the controller's geometry has
// the same name without an argument.
DWORD NandBlockSize(DWORD offset);
DWORD NandPageSize(void);

// Returns every part of the back-end to its state at program start, as a new
// process on another module would find it. Nothing is unmapped: the windows
// and the view belonged to the module that was open before.
void NandBackendReset(void);
