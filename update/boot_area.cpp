#include "update/boot_area.h"

#include <string.h>

#include "flash/flash_ops.h"
#include "update/update.h"

static DWORD BootAreaPiece(DWORD offset, DWORD blockSize) {
    DWORD remaining = BOOT_AREA_WRITE_SIZE - offset;
    return remaining < blockSize ? remaining : blockSize;
}

// Pieces are whole blocks, like the erase.
static BOOL PieceWasErased(DWORD offset, DWORD piece, DWORD erasedStart, DWORD erasedEnd) {
    return offset >= erasedStart && (unsigned long long)offset + piece <= erasedEnd;
}

static void Report(HWND owner, BOOL report, LPCWSTR text) {
    if (report) MessageBoxW(owner, text, TEXT("ERROR"), MB_OK);
}

static BOOL WriteBootArea(HWND owner, DWORD blockSize, DWORD erasedStart, DWORD erasedEnd, BOOL report) {
    for (DWORD offset = 0; offset < BOOT_AREA_WRITE_SIZE; offset += BootAreaPiece(offset, blockSize)) {
        DWORD piece = BootAreaPiece(offset, blockSize);
        if (!PieceWasErased(offset, piece, erasedStart, erasedEnd)) continue;
        if (!FlashOps.WriteBuffer(StagingBuffer + offset, offset, piece)) {
            Report(owner, report, TEXT("Error writing to Flash!"));
            return FALSE;
        }
    }
    return TRUE;
}

static BOOL VerifyBootArea(HWND owner, DWORD blockSize, DWORD erasedStart, DWORD erasedEnd, BOOL report) {
    // No piece is larger than the boot area itself, whatever the block size.
    DWORD bufferSize = BootAreaPiece(0, blockSize);
    BYTE* readBack = (BYTE*)LocalAlloc(LMEM_FIXED, bufferSize);
    if (readBack == NULL) {
        Report(owner, report, TEXT("Error reading Flash!"));
        return FALSE;
    }
    BOOL verified = TRUE;
    for (DWORD offset = 0; offset < BOOT_AREA_WRITE_SIZE; offset += BootAreaPiece(offset, blockSize)) {
        DWORD piece = BootAreaPiece(offset, blockSize);
        if (!PieceWasErased(offset, piece, erasedStart, erasedEnd)) continue;
        // On chips with 32 KiB blocks the boot area's last page is not stored
        // and its read leaves the buffer there as it was. Starting from the
        // staged bytes, those bytes compare equal instead of comparing memory
        // that nothing wrote.
        memcpy(readBack, StagingBuffer + offset, piece);
        if (!FlashOps.ReadBuffer(readBack, offset, piece)) {
            Report(owner, report, TEXT("Error reading Flash!"));
            verified = FALSE;
            break;
        }
        if (memcmp(readBack, StagingBuffer + offset, piece) != 0) {
            Report(owner, report, TEXT("Error veryfing Flash!"));
            verified = FALSE;
            break;
        }
    }
    LocalFree(readBack);
    return verified;
}

BOOL WriteStagedBootArea(HWND owner, DWORD erasedStart, DWORD erasedEnd, BOOL report) {
    DWORD blockSize = FlashOps.BlockSize(0);
    // A back-end that knows no block size cannot cut the area into pieces.
    if (blockSize == 0) {
        Report(owner, report, TEXT("Error writing to Flash!"));
        return FALSE;
    }
    return WriteBootArea(owner, blockSize, erasedStart, erasedEnd, report) &&
           VerifyBootArea(owner, blockSize, erasedStart, erasedEnd, report);
}
