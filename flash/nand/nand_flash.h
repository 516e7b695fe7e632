// The NAND back-end's FlashOps column and its initialisation.
#pragma once
#include "platform/windows.h"

BOOL NandBackendInit(void);
BOOL NandEraseRange(DWORD offset, DWORD length);
BOOL NandEraseBounds(DWORD offset, DWORD length, DWORD* start, DWORD* total);
BOOL NandWriteWord(DWORD offset, DWORD value);
BOOL NandWriteBuffer(const void* source, DWORD offset, DWORD length);
DWORD NandReadWord(DWORD offset);
BOOL NandReadBuffer(void* destination, DWORD offset, DWORD length);
// The chip's block size whatever the offset; the controller's geometry has
// the same name without an argument.
DWORD NandBlockSize(DWORD offset);
DWORD NandPageSize(void);
// The boot-area bytes the chips do not store: on a doubled bus everything
// from the table page on (the place the layout gives those bytes is the
// low-lane chip's second block, which is also part of logical block 1),
// otherwise the boot area's last page.
BOOL NandUnstoredRange(DWORD* start, DWORD* end);
// The shared map first (every access follows it), then the table page (the
// next relocation, and the running system's next map, follow it).
DWORD NandCheckRemap(DWORD* logicalBlock, DWORD* physicalBlock);

// Returns every part of the back-end to its state at program start, as a new
// process on another module would find it. Nothing is unmapped: the windows
// and the view belonged to the module that was open before.
void NandBackendReset(void);
