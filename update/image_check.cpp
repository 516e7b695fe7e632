#include "update/image_check.h"

#include "flash/flash_ops.h"
#include "shell/shell_state.h"
#include "update/record_ranges.h"
#include "update/update.h"

#define TEXT_CHARS 256

// The image range widened to whole blocks by the back-end's own rule. A range
// the erase will refuse keeps its own bounds: nothing is erased or written
// then anyway.
static void PlanErasedRange(IMAGE_PLAN* plan) {
    plan->erasedStart = plan->start;
    plan->erasedLength = plan->length;
    DWORD start, total;
    if (FlashOps.EraseBounds == NULL || !FlashOps.EraseBounds(plan->start, plan->length, &start, &total)) return;
    plan->erasedStart = start;
    plan->erasedLength = total;
}

void PlanImage(IMAGE_PLAN* plan, const IMAGE_HEADER* header) {
    plan->addressBias = ComputeAddressBias(header->imageStart);
    plan->start = header->imageStart + plan->addressBias;
    plan->length = header->imageLength;
    PlanErasedRange(plan);
    plan->recordCount = 0;
    plan->recordsInOrder = TRUE;
    plan->unstoredStart = 0;
    plan->unstoredEnd = 0;
    if (FlashBackend == kFlashBackendNand && FlashOps.UnstoredRange != NULL)
        FlashOps.UnstoredRange(&plan->unstoredStart, &plan->unstoredEnd);
}

BOOL FindRecordProblem(const IMAGE_PLAN* plan, DWORD flashOffset, DWORD length, PLACE_PROBLEM* problem) {
    // Measured from the range's start, so that a range that wraps past 2^32
    // is handled like any other.
    if (length == 0 || (unsigned long long)(flashOffset - plan->start) + length <= plan->length) return FALSE;
    problem->kind = kPlaceNotErased;
    problem->first = flashOffset;
    problem->last = flashOffset + length - 1;
    return TRUE;
}

// Whether any byte of the piece inside [from, to) is data.
static BOOL HoldsDataIn(const BYTE* piece, DWORD flashOffset, DWORD size, DWORD from, DWORD to) {
    unsigned long long pieceEnd = (unsigned long long)flashOffset + size;
    DWORD first = flashOffset > from ? flashOffset : from;
    unsigned long long last = pieceEnd < to ? pieceEnd : to;
    for (unsigned long long at = first; at < last; ++at)
        if (piece[at - flashOffset] != 0xFF) return TRUE;
    return FALSE;
}

static BOOL FindDataIn(const BYTE* piece, DWORD flashOffset, DWORD size, DWORD from, DWORD to, PLACE_PROBLEM* problem) {
    if (from >= to || !HoldsDataIn(piece, flashOffset, size, from, to)) return FALSE;
    problem->kind = kPlaceNotStored;
    problem->first = from;
    problem->last = to - 1;
    return TRUE;
}

BOOL FindPieceProblem(const IMAGE_PLAN* plan, const BYTE* piece, DWORD flashOffset, DWORD size,
                      PLACE_PROBLEM* problem) {
    if (FlashBackend != kFlashBackendNand) return FALSE;
    // What the back-end does not store (on every chip below the rest), then
    // the staged bytes that the boot area's write-back never writes.
    return FindDataIn(piece, flashOffset, size, plan->unstoredStart, plan->unstoredEnd, problem) ||
           FindDataIn(piece, flashOffset, size, BOOT_AREA_WRITE_SIZE, STAGING_BUFFER_SIZE, problem);
}

// A record found to overlap one before it; the check reads on, and the
// first problem is the one reported.
static void FindOverlap(DWORD flashOffset, DWORD length, PLACE_PROBLEM* problem) {
    RECORD_RANGE earlier;
    int added = AddRecordRange(flashOffset, length, &earlier);
    if (added == kRangeAdded) return;
    problem->kind = added == kRangeOverlaps ? kPlaceOverlap : kPlaceTooScattered;
    problem->first = flashOffset;
    problem->last = flashOffset + length - 1;
    problem->earlierFirst = earlier.start;
    problem->earlierLast = earlier.start + earlier.length - 1;
}

void ReportPlaceProblem(HWND owner, const PLACE_PROBLEM* problem) {
    WCHAR text[TEXT_CHARS];
    DWORD length = problem->last - problem->first + 1;
    DWORD earlierLength = problem->earlierLast - problem->earlierFirst + 1;
    switch (problem->kind) {
        case kPlaceNotErased:
            StringCchPrintfW(text, TEXT_CHARS, TEXT("Record at %.8x  Len: %.8x(%d) lies outside the erased range!"),
                             problem->first, length, (int)length);
            break;
        case kPlaceOverlap:
            StringCchPrintfW(
                text, TEXT_CHARS, TEXT("Records at %.8x  Len: %.8x(%d) and at %.8x  Len: %.8x(%d) overlap!"),
                problem->earlierFirst, earlierLength, (int)earlierLength, problem->first, length, (int)length);
            break;
        case kPlaceTooScattered:
            StringCchPrintfW(text, TEXT_CHARS, TEXT("Image File has more than %d separate records!"),
                             RECORD_RANGE_SLOTS);
            break;
        default:
            StringCchPrintfW(text, TEXT_CHARS, TEXT("The boot area cannot store data at %.8x - %.8x!"), problem->first,
                             problem->last);
            break;
    }
    MessageBoxW(owner, text, TEXT("ERROR"), MB_OK);
}

// One ordinary record: its data, its sum, and the first place problem.
static int CheckRecord(HANDLE file, HWND owner, const IMAGE_PLAN* plan, const IMAGE_RECORD_HEAD* head, BYTE* piece,
                       PLACE_PROBLEM* problem) {
    DWORD flashOffset = head->address + plan->addressBias;
    if (problem->kind == kPlaceSound && !FindRecordProblem(plan, flashOffset, head->length, problem))
        FindOverlap(flashOffset, head->length, problem);
    DWORD sum = 0;
    for (DWORD remaining = head->length; remaining > 0;) {
        if (AbortRequested) return kCheckAborted;
        DWORD size = remaining < UPDATE_PIECE_SIZE ? remaining : UPDATE_PIECE_SIZE;
        if (!ReadRecordPiece(file, owner, piece, size)) return kCheckFailed;
        sum += ByteSum(piece, size);
        if (problem->kind == kPlaceSound) FindPieceProblem(plan, piece, flashOffset, size, problem);
        flashOffset += size;
        remaining -= size;
    }
    if (sum != head->checksum) {
        ReportBadChecksum(owner);
        return kCheckFailed;
    }
    return kCheckPassed;
}

int CheckImageFile(HANDLE file, HWND owner, IMAGE_PLAN* plan, BYTE* piece) {
    // A damaged file is told as such even when its data would not fit
    // either: where the data go is reported once the whole file has passed.
    PLACE_PROBLEM problem;
    problem.kind = kPlaceSound;
    ClearRecordRanges();
    unsigned long long previousEnd = 0;
    for (;;) {
        if (AbortRequested) return kCheckAborted;
        IMAGE_RECORD_HEAD head;
        int kind = ReadRecordHead(file, owner, &head);
        if (kind == kRecordHeadFailed) return kCheckFailed;
        if (kind == kRecordHeadEnd) break;
        int checked = CheckRecord(file, owner, plan, &head, piece, &problem);
        if (checked != kCheckPassed) return checked;
        plan->recordCount++;
        DWORD flashOffset = head.address + plan->addressBias;
        if (head.length != 0) {
            if (flashOffset < previousEnd) plan->recordsInOrder = FALSE;
            previousEnd = (unsigned long long)flashOffset + head.length;
        }
    }
    if (problem.kind != kPlaceSound) {
        ReportPlaceProblem(owner, &problem);
        return kCheckFailed;
    }
    return kCheckPassed;
}
