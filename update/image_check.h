// Where an image's data may go, and the pass over the whole file that checks
// it before anything is erased: a file that would fail part-way, or whose
// data the flash cannot take, must not cost the module what it holds.
#pragma once
#include "platform/windows.h"
#include "update/image_file.h"

// What the update knows about the image before it erases.
typedef struct IMAGE_PLAN {
    DWORD start;   // translated image start: the erase begins here
    DWORD length;  // image length: the erase covers start .. start + length
    DWORD addressBias;
    // The whole blocks that erase covers. What they hold outside the image's
    // range is kept, so data may go only inside that range.
    DWORD erasedStart;
    DWORD erasedLength;
    DWORD recordCount;  // ordinary records before the end record
    // Each record starts at or after the end of the one before.
    BOOL recordsInOrder;
    // NAND: boot-area bytes the device does not store, [unstoredStart, unstoredEnd).
    DWORD unstoredStart;
    DWORD unstoredEnd;
} IMAGE_PLAN;

// Data the update cannot place.
typedef struct PLACE_PROBLEM {
    DWORD kind;
    DWORD first;  // the range it concerns, first and last byte
    DWORD last;
    DWORD earlierFirst;  // kPlaceOverlap: the earlier record's range
    DWORD earlierLast;
} PLACE_PROBLEM;

enum {
    kPlaceSound = 0,
    kPlaceNotErased = 1,     // flash outside the image's range, which the update keeps
    kPlaceNotStored = 2,     // boot-area bytes the flash does not store
    kPlaceOverlap = 3,       // bytes an earlier record gives already
    kPlaceTooScattered = 4,  // more separate records than the check can hold
};

enum {
    kCheckFailed = 0,
    kCheckPassed = 1,
    kCheckAborted = 2,  // Abort stopped the check: nothing is to be erased
};

void PlanImage(IMAGE_PLAN* plan, const IMAGE_HEADER* header);
// A record's data must lie in the image's range: the rest of the erased
// blocks gets its old contents back, and nothing is programmed over flash
// this update did not erase.
BOOL FindRecordProblem(const IMAGE_PLAN* plan, DWORD flashOffset, DWORD length, PLACE_PROBLEM* problem);
// Bytes other than 0xFF must not fall where the boot area stores nothing.
BOOL FindPieceProblem(const IMAGE_PLAN* plan, const BYTE* piece, DWORD flashOffset, DWORD size, PLACE_PROBLEM* problem);
void ReportPlaceProblem(HWND owner, const PLACE_PROBLEM* problem);

// Reads the records of the open file, after its header, up to the end
// record: every head, all data, every checksum, where the data go, and that
// no two records give the same byte. A failure shows the message the same
// failure shows while writing. Counts the records into the plan. The piece
// buffer holds UPDATE_PIECE_SIZE bytes.
int CheckImageFile(HANDLE file, HWND owner, IMAGE_PLAN* plan, BYTE* piece);
