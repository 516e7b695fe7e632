#include "update/kept_flash.h"

#include <string.h>

#include "flash/flash_ops.h"
#include "update/page_writer.h"
#include "update/update.h"

#define TEXT_CHARS 256

KEPT_FLASH KeptFlash;

static void AddRange(KEPT_FLASH* kept, DWORD start, unsigned long long end, BOOL beforeImage) {
    if (end <= start || kept->count == KEPT_RANGE_SLOTS) return;
    KEPT_RANGE* range = &kept->ranges[kept->count++];
    memset(range, 0, sizeof *range);
    range->start = start;
    range->length = (DWORD)(end - start);
    range->beforeImage = beforeImage;
}

// The staged boot area ends where its write-back ends; on chips whose boot
// area is one small block, the bytes after it are ordinary flash written
// directly.
static void AddSplitAtStagedEnd(KEPT_FLASH* kept, DWORD start, unsigned long long end, BOOL beforeImage) {
    if (FlashBackend == kFlashBackendNand && start < BOOT_AREA_WRITE_SIZE && end > BOOT_AREA_WRITE_SIZE) {
        AddRange(kept, start, BOOT_AREA_WRITE_SIZE, beforeImage);
        start = BOOT_AREA_WRITE_SIZE;
    }
    AddRange(kept, start, end, beforeImage);
}

// Bytes the flash does not store are not kept: nothing reads them back.
static void AddStored(KEPT_FLASH* kept, const IMAGE_PLAN* plan, DWORD start, unsigned long long end, BOOL beforeImage) {
    if (plan->unstoredStart < plan->unstoredEnd && start < plan->unstoredEnd && end > plan->unstoredStart) {
        AddSplitAtStagedEnd(kept, start, plan->unstoredStart, beforeImage);
        if (end > plan->unstoredEnd) AddSplitAtStagedEnd(kept, plan->unstoredEnd, end, beforeImage);
        return;
    }
    AddSplitAtStagedEnd(kept, start, end, beforeImage);
}

void PlanKeptFlash(KEPT_FLASH* kept, const IMAGE_PLAN* plan) {
    kept->count = 0;
    // Records lie in the image's range, inside the erased blocks.
    kept->stagingIdle = FlashBackend != kFlashBackendNand || plan->erasedStart >= STAGING_BUFFER_SIZE;
    unsigned long long erasedEnd = (unsigned long long)plan->erasedStart + plan->erasedLength;
    unsigned long long imageEnd = (unsigned long long)plan->start + plan->length;
    // An erase that keeps the image's own bounds (it will be refused) loses nothing.
    if (plan->erasedStart > plan->start || erasedEnd < imageEnd) return;
    AddStored(kept, plan, plan->erasedStart, plan->start, TRUE);
    if (imageEnd < erasedEnd) AddStored(kept, plan, (DWORD)imageEnd, erasedEnd, FALSE);
}

static BOOL InStagedBootArea(const KEPT_RANGE* range) {
    return FlashBackend == kFlashBackendNand && range->start < BOOT_AREA_WRITE_SIZE;
}

static BOOL FindRoom(KEPT_FLASH* kept, KEPT_RANGE* range, BOOL* stagingTaken) {
    if (InStagedBootArea(range)) {
        range->staged = TRUE;
        range->bytes = StagingBuffer + range->start;
        return TRUE;
    }
    if (!*stagingTaken && range->length <= STAGING_BUFFER_SIZE && kept->stagingIdle) {
        *stagingTaken = TRUE;
        range->bytes = StagingBuffer;
        return TRUE;
    }
    range->bytes = (BYTE*)LocalAlloc(LMEM_FIXED, range->length);
    range->allocated = range->bytes != NULL;
    return range->allocated;
}

static void ReportKeptProblem(HWND owner, LPCWSTR format, const KEPT_RANGE* range) {
    WCHAR text[TEXT_CHARS];
    StringCchPrintfW(text, TEXT_CHARS, format, range->start, range->start + range->length - 1);
    MessageBoxW(owner, text, TEXT("ERROR"), MB_OK);
}

BOOL ReadKeptFlash(KEPT_FLASH* kept, HWND owner) {
    BOOL stagingTaken = FALSE;
    for (DWORD i = 0; i < kept->count; ++i) {
        KEPT_RANGE* range = &kept->ranges[i];
        if (!FindRoom(kept, range, &stagingTaken)) {
            ReportKeptProblem(owner, TEXT("Not enough memory to keep Flash at %.8x - %.8x!"), range);
            return FALSE;
        }
        if (!FlashOps.ReadBuffer(range->bytes, range->start, range->length)) {
            ReportKeptProblem(owner, TEXT("Error reading Flash at %.8x - %.8x!"), range);
            return FALSE;
        }
        // Staged, they go back with the boot area.
        if (range->staged) BootAreaStaged = TRUE;
    }
    return TRUE;
}

// Kept bytes that read erased are as the erase left them: only the spans
// that hold data are programmed again. A span is the NOR write buffer's 64
// bytes of the bus, aligned on the flash; on NAND a page of erased bytes is
// never programmed anyway.
#define KEPT_SPAN 64

static BOOL SpanErased(const BYTE* bytes, DWORD length) {
    for (DWORD i = 0; i < length; i++) {
        if (bytes[i] != 0xFF) {
            return FALSE;
        }
    }
    return TRUE;
}

static BOOL WriteHeldSpans(const BYTE* bytes, DWORD start, DWORD length) {
    DWORD runStart = 0;
    DWORD at = 0;
    while (at < length) {
        DWORD span = KEPT_SPAN - (start + at) % KEPT_SPAN;
        if (span > length - at) {
            span = length - at;
        }
        if (SpanErased(bytes + at, span)) {
            if (at > runStart && !WritePagedPiece(bytes + runStart, start + runStart, at - runStart)) {
                return FALSE;
            }
            runStart = at + span;
        }
        at += span;
    }
    return at == runStart || WritePagedPiece(bytes + runStart, start + runStart, at - runStart);
}

BOOL WriteKeptFlash(const KEPT_FLASH* kept, BOOL beforeImage, DWORD erasedStart, DWORD erasedEnd) {
    for (DWORD i = 0; i < kept->count; ++i) {
        const KEPT_RANGE* range = &kept->ranges[i];
        if (range->staged || range->beforeImage != beforeImage || range->bytes == NULL) continue;
        // A block the erase did not reach still holds these bytes.
        if (range->start < erasedStart || (unsigned long long)range->start + range->length > erasedEnd) continue;
        if (!WriteHeldSpans(range->bytes, range->start, range->length)) return FALSE;
    }
    return TRUE;
}

BOOL KeptFlashStaged(const KEPT_FLASH* kept) {
    for (DWORD i = 0; i < kept->count; ++i)
        if (kept->ranges[i].staged) return TRUE;
    return FALSE;
}

void ReleaseKeptFlash(KEPT_FLASH* kept) {
    for (DWORD i = 0; i < kept->count; ++i) {
        KEPT_RANGE* range = &kept->ranges[i];
        if (range->allocated) LocalFree(range->bytes);
        range->bytes = NULL;
        range->allocated = FALSE;
    }
}
