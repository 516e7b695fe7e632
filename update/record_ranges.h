// The flash ranges of an image's records, gathered in the check pass: a file
// whose records overlap is damaged or ambiguous (which record's bytes would
// the flash keep?), and is refused before anything is erased.
#pragma once
#include "platform/windows.h"

// Separate ranges the table holds; records that follow one another without
// a gap share a slot once the table is full.
#define RECORD_RANGE_SLOTS 4096

typedef struct RECORD_RANGE {
    DWORD start;
    DWORD length;
} RECORD_RANGE;

enum {
    kRangeAdded = 0,
    kRangeOverlaps = 1,  // *earlier is the record it overlaps
    kRangeTableFull = 2,
};

void ClearRecordRanges(void);
// A record's flash range (one that runs past 2^32 is taken as if the
// offsets went on); an empty record takes no slot.
int AddRecordRange(DWORD start, DWORD length, RECORD_RANGE* earlier);
