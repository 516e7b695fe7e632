// Record pieces on their way to flash. A NAND page takes one program between
// erases: the controller stores the code of the page's data beside it, and a
// second program would leave the AND of two codes, which matches neither.
// Pieces are therefore gathered page by page, and each page is programmed
// once with all of its data.
#pragma once
#include "platform/windows.h"

#define LARGEST_GATHERED_PAGE 2048
#define GATHERED_PAGES 8

// Starts the gathering for one update's records, after the erase. Records in
// address order never come back to a page they have left.
void BeginPageWriting(BOOL recordsInOrder);
// Writes a piece at a flash offset: at once on NOR; on NAND, whole pages go
// out at once and a page the piece leaves part-filled is kept for the pieces
// that may share it. FALSE when the flash refused a write.
BOOL WritePagedPiece(const BYTE* piece, DWORD flashOffset, DWORD size);
// Programs the pages still gathered, after the last record.
BOOL FinishPageWriting(void);
