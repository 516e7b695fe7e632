#include "update/record_ranges.h"

#include <string.h>

// Sorted by start, none overlapping another.
static RECORD_RANGE RecordRanges[RECORD_RANGE_SLOTS];
static DWORD RecordRangeCount;

static unsigned long long RangeEnd(const RECORD_RANGE* range) {
    return (unsigned long long)range->start + range->length;
}

void ClearRecordRanges(void) { RecordRangeCount = 0; }

// The first slot whose range ends after start.
static DWORD FirstEndingAfter(DWORD start) {
    DWORD low = 0, high = RecordRangeCount;
    while (low < high) {
        DWORD middle = low + (high - low) / 2;
        if (RangeEnd(&RecordRanges[middle]) <= start)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

// Ranges that touch become one; FALSE when none did.
static BOOL JoinTouchingRanges(void) {
    DWORD kept = 0;
    for (DWORD i = 0; i < RecordRangeCount; ++i) {
        if (kept > 0 && RangeEnd(&RecordRanges[kept - 1]) == RecordRanges[i].start) {
            RecordRanges[kept - 1].length += RecordRanges[i].length;
            continue;
        }
        RecordRanges[kept++] = RecordRanges[i];
    }
    BOOL joined = kept < RecordRangeCount;
    RecordRangeCount = kept;
    return joined;
}

int AddRecordRange(DWORD start, DWORD length, RECORD_RANGE* earlier) {
    if (length == 0) return kRangeAdded;
    DWORD slot = FirstEndingAfter(start);
    if (slot < RecordRangeCount && RecordRanges[slot].start < (unsigned long long)start + length) {
        *earlier = RecordRanges[slot];
        return kRangeOverlaps;
    }
    if (RecordRangeCount == RECORD_RANGE_SLOTS) {
        if (!JoinTouchingRanges()) return kRangeTableFull;
        slot = FirstEndingAfter(start);
    }
    memmove(&RecordRanges[slot + 1], &RecordRanges[slot], (RecordRangeCount - slot) * sizeof(RECORD_RANGE));
    RecordRanges[slot].start = start;
    RecordRanges[slot].length = length;
    RecordRangeCount++;
    return kRangeAdded;
}
