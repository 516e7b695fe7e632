#include "update/page_writer.h"

#include <string.h>

#include "flash/flash_ops.h"

// 0 while pieces go to flash as they come.
static DWORD GatherPageSize;
static BOOL PageOpen;
static DWORD OpenPageOffset;
// The open page held data already, so it was programmed before in this
// update: it goes back to flash with its whole block.
static BOOL OpenPageHeldData;
// No page from here on has been programmed since the erase.
static DWORD WrittenEnd;
// Word-aligned: the NAND back-end moves whole 32-bit words.
static DWORD OpenPageWords[LARGEST_GATHERED_PAGE / sizeof(DWORD)];
static BYTE* const OpenPage = (BYTE*)OpenPageWords;

static BOOL AllErased(const BYTE* bytes, DWORD length) {
    for (DWORD i = 0; i < length; i++) {
        if (bytes[i] != 0xFF) {
            return FALSE;
        }
    }
    return TRUE;
}

static void NoteWritten(DWORD end) {
    if (end > WrittenEnd) {
        WrittenEnd = end;
    }
}

void BeginPageWriting(void) {
    GatherPageSize = 0;
    PageOpen = FALSE;
    WrittenEnd = 0;
    if (FlashBackend != kFlashBackendNand || FlashOps.PageSize == NULL) {
        return;
    }
    DWORD pageSize = FlashOps.PageSize();
    // Pages are powers of two that fit the buffer; anything else goes out as it comes.
    if (pageSize != 0 && pageSize <= LARGEST_GATHERED_PAGE && (pageSize & (pageSize - 1)) == 0) {
        GatherPageSize = pageSize;
    }
}

// A page below WrittenEnd may hold data of an earlier record: it is read, and
// the new bytes are taken as a second program would take them. A gathered
// page of erased bytes only is never programmed, so data in a page always
// mean it was.
static BOOL StartPage(DWORD pageOffset) {
    memset(OpenPage, 0xFF, GatherPageSize);
    OpenPageHeldData = FALSE;
    if (pageOffset < WrittenEnd) {
        if (!FlashOps.ReadBuffer(OpenPage, pageOffset, GatherPageSize)) {
            return FALSE;
        }
        OpenPageHeldData = !AllErased(OpenPage, GatherPageSize);
    }
    PageOpen = TRUE;
    OpenPageOffset = pageOffset;
    return TRUE;
}

// The block of a page programmed before: read whole, erased, and programmed
// again page by page with the gathered page in its place.
static BOOL RewriteBlock(void) {
    DWORD blockSize = FlashOps.BlockSize(OpenPageOffset);
    if (blockSize < GatherPageSize || blockSize % GatherPageSize != 0) {
        return FALSE;
    }
    DWORD blockOffset = OpenPageOffset - OpenPageOffset % blockSize;
    BYTE* block = (BYTE*)LocalAlloc(LMEM_FIXED, blockSize);
    if (block == NULL) {
        return FALSE;
    }
    BOOL done = FlashOps.ReadBuffer(block, blockOffset, blockSize);
    if (done) {
        memcpy(block + (OpenPageOffset - blockOffset), OpenPage, GatherPageSize);
        // The update's erase progress is over; this erase reports nothing.
        ERASE_PROGRESS_HOOK hook = EraseProgressHook;
        SetEraseProgressHook(NULL, 0);
        done = FlashOps.EraseRange(blockOffset, blockSize);
        SetEraseProgressHook(hook.callback, hook.step);
    }
    for (DWORD at = 0; done && at < blockSize; at += GatherPageSize) {
        if (!AllErased(block + at, GatherPageSize)) {
            done = FlashOps.WriteBuffer(block + at, blockOffset + at, GatherPageSize);
        }
    }
    LocalFree(block);
    return done;
}

static BOOL FlushPage(void) {
    PageOpen = FALSE;
    if (AllErased(OpenPage, GatherPageSize)) {
        return TRUE;
    }
    if (OpenPageHeldData) {
        return RewriteBlock();
    }
    if (!FlashOps.WriteBuffer(OpenPage, OpenPageOffset, GatherPageSize)) {
        return FALSE;
    }
    NoteWritten(OpenPageOffset + GatherPageSize);
    return TRUE;
}

BOOL WritePagedPiece(const BYTE* piece, DWORD flashOffset, DWORD size) {
    if (GatherPageSize == 0) {
        return FlashOps.WriteBuffer(piece, flashOffset, size);
    }
    while (size > 0) {
        DWORD pageOffset = flashOffset - flashOffset % GatherPageSize;
        if (PageOpen && pageOffset != OpenPageOffset && !FlushPage()) {
            return FALSE;
        }
        // Whole pages that no gathered page holds go straight from the piece.
        if (!PageOpen && flashOffset == pageOffset && size >= GatherPageSize) {
            DWORD whole = size - size % GatherPageSize;
            if (!FlashOps.WriteBuffer(piece, flashOffset, whole)) {
                return FALSE;
            }
            NoteWritten(flashOffset + whole);
            piece += whole;
            flashOffset += whole;
            size -= whole;
            continue;
        }
        if (!PageOpen && !StartPage(pageOffset)) {
            return FALSE;
        }
        DWORD inPage = flashOffset - pageOffset;
        DWORD count = GatherPageSize - inPage < size ? GatherPageSize - inPage : size;
        for (DWORD i = 0; i < count; i++) {
            OpenPage[inPage + i] &= piece[i];
        }
        piece += count;
        flashOffset += count;
        size -= count;
    }
    return TRUE;
}

BOOL FinishPageWriting(void) { return !PageOpen || FlushPage(); }
