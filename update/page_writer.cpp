#include "update/page_writer.h"

#include <string.h>

#include "flash/flash_ops.h"

typedef struct GATHERED_PAGE {
    BOOL inUse;
    DWORD offset;
    DWORD lastUse;
    // The page held data already, so it was programmed before in this
    // update: it goes back to flash with its whole block.
    BOOL heldData;
    // Word-aligned: the NAND back-end moves whole 32-bit words.
    DWORD words[LARGEST_GATHERED_PAGE / sizeof(DWORD)];
} GATHERED_PAGE;

// 0 while pieces go to flash as they come.
static DWORD GatherPageSize;
static BOOL GatherInOrder;
static DWORD UseCount;
// No page from here on has been programmed since the erase.
static DWORD WrittenEnd;
static GATHERED_PAGE Gathered[GATHERED_PAGES];

static BYTE* PageBytes(GATHERED_PAGE* page) { return (BYTE*)page->words; }

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

void BeginPageWriting(BOOL recordsInOrder) {
    GatherPageSize = 0;
    GatherInOrder = recordsInOrder;
    UseCount = 0;
    WrittenEnd = 0;
    for (DWORD i = 0; i < GATHERED_PAGES; i++) {
        Gathered[i].inUse = FALSE;
    }
    if (FlashBackend != kFlashBackendNand || FlashOps.PageSize == NULL) {
        return;
    }
    DWORD pageSize = FlashOps.PageSize();
    // Pages are powers of two that fit the buffer; anything else goes out as it comes.
    if (pageSize != 0 && pageSize <= LARGEST_GATHERED_PAGE && (pageSize & (pageSize - 1)) == 0) {
        GatherPageSize = pageSize;
    }
}

static GATHERED_PAGE* FindGathered(DWORD pageOffset) {
    for (DWORD i = 0; i < GATHERED_PAGES; i++) {
        if (Gathered[i].inUse && Gathered[i].offset == pageOffset) {
            return &Gathered[i];
        }
    }
    return NULL;
}

// The block of a page programmed before: read whole, erased, and programmed
// again page by page with the gathered page in its place.
static BOOL RewriteBlock(GATHERED_PAGE* page) {
    DWORD blockSize = FlashOps.BlockSize(page->offset);
    if (blockSize < GatherPageSize || blockSize % GatherPageSize != 0) {
        return FALSE;
    }
    DWORD blockOffset = page->offset - page->offset % blockSize;
    BYTE* block = (BYTE*)LocalAlloc(LMEM_FIXED, blockSize);
    if (block == NULL) {
        return FALSE;
    }
    BOOL done = FlashOps.ReadBuffer(block, blockOffset, blockSize);
    if (done) {
        memcpy(block + (page->offset - blockOffset), PageBytes(page), GatherPageSize);
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

// A page of erased bytes only is not programmed, so data in a page always
// mean it was.
static BOOL FlushPage(GATHERED_PAGE* page) {
    page->inUse = FALSE;
    if (AllErased(PageBytes(page), GatherPageSize)) {
        return TRUE;
    }
    if (page->heldData) {
        return RewriteBlock(page);
    }
    if (!FlashOps.WriteBuffer(PageBytes(page), page->offset, GatherPageSize)) {
        return FALSE;
    }
    NoteWritten(page->offset + GatherPageSize);
    return TRUE;
}

// Every gathered page, the lowest first.
static BOOL FlushAll(void) {
    for (;;) {
        GATHERED_PAGE* lowest = NULL;
        for (DWORD i = 0; i < GATHERED_PAGES; i++) {
            if (Gathered[i].inUse && (lowest == NULL || Gathered[i].offset < lowest->offset)) {
                lowest = &Gathered[i];
            }
        }
        if (lowest == NULL) {
            return TRUE;
        }
        if (!FlushPage(lowest)) {
            return FALSE;
        }
    }
}

// A free place for a page, made by programming the page used longest ago
// when every place is taken.
static GATHERED_PAGE* FreePlace(void) {
    GATHERED_PAGE* oldest = &Gathered[0];
    for (DWORD i = 0; i < GATHERED_PAGES; i++) {
        if (!Gathered[i].inUse) {
            return &Gathered[i];
        }
        if (Gathered[i].lastUse < oldest->lastUse) {
            oldest = &Gathered[i];
        }
    }
    return FlushPage(oldest) ? oldest : NULL;
}

// A page below WrittenEnd may hold data of an earlier record: it is read, and
// the new bytes are taken as a second program would take them.
static GATHERED_PAGE* StartPage(DWORD pageOffset) {
    GATHERED_PAGE* page = FreePlace();
    if (page == NULL) {
        return NULL;
    }
    memset(PageBytes(page), 0xFF, GatherPageSize);
    page->heldData = FALSE;
    if (pageOffset < WrittenEnd) {
        if (!FlashOps.ReadBuffer(PageBytes(page), pageOffset, GatherPageSize)) {
            return NULL;
        }
        page->heldData = !AllErased(PageBytes(page), GatherPageSize);
    }
    page->inUse = TRUE;
    page->offset = pageOffset;
    return page;
}

// Whole pages from the offset that no gathered page holds, in bytes.
static DWORD UngatheredWholePages(DWORD flashOffset, DWORD size) {
    DWORD whole = 0;
    while (size - whole >= GatherPageSize && FindGathered(flashOffset + whole) == NULL) {
        whole += GatherPageSize;
    }
    return whole;
}

BOOL WritePagedPiece(const BYTE* piece, DWORD flashOffset, DWORD size) {
    if (GatherPageSize == 0) {
        return FlashOps.WriteBuffer(piece, flashOffset, size);
    }
    while (size > 0) {
        DWORD pageOffset = flashOffset - flashOffset % GatherPageSize;
        GATHERED_PAGE* page = FindGathered(pageOffset);
        // In address order, the pages left behind are complete, and go out
        // before the pages after them.
        if (page == NULL && GatherInOrder && !FlushAll()) {
            return FALSE;
        }
        DWORD whole = flashOffset == pageOffset && page == NULL ? UngatheredWholePages(flashOffset, size) : 0;
        if (whole != 0) {
            if (!FlashOps.WriteBuffer(piece, flashOffset, whole)) {
                return FALSE;
            }
            NoteWritten(flashOffset + whole);
            piece += whole;
            flashOffset += whole;
            size -= whole;
            continue;
        }
        if (page == NULL && (page = StartPage(pageOffset)) == NULL) {
            return FALSE;
        }
        page->lastUse = ++UseCount;
        DWORD inPage = flashOffset - pageOffset;
        DWORD count = GatherPageSize - inPage < size ? GatherPageSize - inPage : size;
        for (DWORD i = 0; i < count; i++) {
            PageBytes(page)[inPage + i] &= piece[i];
        }
        piece += count;
        flashOffset += count;
        size -= count;
    }
    return TRUE;
}

BOOL FinishPageWriting(void) { return FlushAll(); }
