#include "update/boot_area.h"

#include <string.h>

#include "flash/flash_ops.h"
#include "update/update.h"

static DWORD BootAreaPiece(DWORD offset, DWORD blockSize) {
    DWORD remaining = BOOT_AREA_WRITE_SIZE - offset;
    return remaining < blockSize ? remaining : blockSize;
}

// The erase covered every whole block that holds a byte of the image range,
// and pieces are whole blocks, so a piece that meets the range was erased.
static BOOL PieceWasErased(DWORD offset, DWORD piece, DWORD imageStart, DWORD imageLength) {
    unsigned long long imageEnd = (unsigned long long)imageStart + imageLength;
    return imageLength != 0 && offset < imageEnd && (unsigned long long)offset + piece > imageStart;
}

static BOOL PieceHoldsData(DWORD offset, DWORD piece) {
    for (DWORD i = 0; i < piece; ++i)
        if (StagingBuffer[offset + i] != 0xFF) return TRUE;
    return FALSE;
}

static BOOL WriteBootArea(HWND owner, DWORD blockSize, DWORD imageStart, DWORD imageLength) {
    for (DWORD offset = 0; offset < BOOT_AREA_WRITE_SIZE; offset += BootAreaPiece(offset, blockSize)) {
        DWORD piece = BootAreaPiece(offset, blockSize);
        if (!PieceWasErased(offset, piece, imageStart, imageLength)) {
            if (!PieceHoldsData(offset, piece)) continue;
            MessageBoxW(owner, TEXT("Error writing to Flash!"), TEXT("ERROR"), MB_OK);
            return FALSE;
        }
        if (!FlashOps.WriteBuffer(StagingBuffer + offset, offset, piece)) {
            MessageBoxW(owner, TEXT("Error writing to Flash!"), TEXT("ERROR"), MB_OK);
            return FALSE;
        }
    }
    return TRUE;
}

static BOOL VerifyBootArea(HWND owner, DWORD blockSize, DWORD imageStart, DWORD imageLength) {
    // No piece is larger than the boot area itself, whatever the block size.
    DWORD bufferSize = BootAreaPiece(0, blockSize);
    BYTE* readBack = (BYTE*)LocalAlloc(LMEM_FIXED, bufferSize);
    if (readBack == NULL) {
        MessageBoxW(owner, TEXT("Error reading Flash!"), TEXT("ERROR"), MB_OK);
        return FALSE;
    }
    BOOL verified = TRUE;
    for (DWORD offset = 0; offset < BOOT_AREA_WRITE_SIZE; offset += BootAreaPiece(offset, blockSize)) {
        DWORD piece = BootAreaPiece(offset, blockSize);
        if (!PieceWasErased(offset, piece, imageStart, imageLength)) continue;
        // On chips with 32 KiB blocks the boot area's last page is not stored
        // and its read leaves the buffer there as it was. Starting from the
        // staged bytes, those bytes compare equal instead of comparing memory
        // that nothing wrote.
        memcpy(readBack, StagingBuffer + offset, piece);
        if (!FlashOps.ReadBuffer(readBack, offset, piece)) {
            MessageBoxW(owner, TEXT("Error reading Flash!"), TEXT("ERROR"), MB_OK);
            verified = FALSE;
            break;
        }
        if (memcmp(readBack, StagingBuffer + offset, piece) != 0) {
            MessageBoxW(owner, TEXT("Error veryfing Flash!"), TEXT("ERROR"), MB_OK);
            verified = FALSE;
            break;
        }
    }
    LocalFree(readBack);
    return verified;
}

BOOL WriteStagedBootArea(HWND owner, DWORD imageStart, DWORD imageLength) {
    DWORD blockSize = FlashOps.BlockSize(0);
    // A back-end that knows no block size cannot cut the area into pieces.
    if (blockSize == 0) {
        MessageBoxW(owner, TEXT("Error writing to Flash!"), TEXT("ERROR"), MB_OK);
        return FALSE;
    }
    return WriteBootArea(owner, blockSize, imageStart, imageLength) &&
           VerifyBootArea(owner, blockSize, imageStart, imageLength);
}
