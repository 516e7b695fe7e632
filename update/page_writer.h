// Record pieces on their way to flash. A NAND page takes one program between
// erases: the controller stores the code of the page's data beside it, and a
// second program would leave the AND of two codes, which matches neither.
// Pieces are therefore gathered page by page, and each page is programmed
// once with all of its data.
#pragma once
#include "platform/windows.h"

#define LARGEST_GATHERED_PAGE 2048

// Starts the gathering for one update's records, after the erase.
void BeginPageWriting(void);
// Writes a piece at a flash offset: at once on NOR; on NAND, the pages it
// fills go out at once and a page it leaves part-filled waits for the next
// piece. FALSE when the flash refused a write.
BOOL WritePagedPiece(const BYTE* piece, DWORD flashOffset, DWORD size);
// Programs the page still gathered, after the last record.
BOOL FinishPageWriting(void);
