// What the image's erase takes from flash outside the image: the bytes of its
// erased blocks before the image's start and after its end. They are read
// before the erase and written back after it, so that an image covering part
// of a block (the upper part of a bootloader, one page of the boot area)
// leaves the rest of that block as it was.
//
// RAM: on NAND, kept bytes of the staged boot area wait in the StagingBuffer
// at their own offsets and go back with it. Every other kept range lies in
// the first or the last erased block and is smaller than that block. The
// first of them waits in the StagingBuffer when no byte of this update is
// staged (always on NOR, whose blocks of at most 256 KiB fit it), the other
// in a LocalAlloc of its own size for the length of the update: at most one
// NOR block less a byte beside the staging buffer.
#pragma once
#include "platform/windows.h"
#include "update/image_check.h"

// Each end at most split by the bytes the boot area does not store and by
// the end of the staged boot area.
#define KEPT_RANGE_SLOTS 8

typedef struct KEPT_RANGE {
    DWORD start;
    DWORD length;
    BYTE* bytes;       // where they wait while their block is erased
    BOOL beforeImage;  // written back right after the erase, else after the records
    BOOL staged;       // in the StagingBuffer at their own offsets, written with the boot area
    BOOL allocated;    // bytes came from LocalAlloc
} KEPT_RANGE;

typedef struct KEPT_FLASH {
    // No byte of this update is staged: the StagingBuffer may hold a range.
    BOOL stagingIdle;
    DWORD count;
    KEPT_RANGE ranges[KEPT_RANGE_SLOTS];
} KEPT_FLASH;

// The ranges of the last update. Their bytes are released at its end; the
// ranges stay until the next update, for a report on what it kept.
extern KEPT_FLASH KeptFlash;

// The erased blocks' bytes outside the image's range that the flash stores.
void PlanKeptFlash(KEPT_FLASH* kept, const IMAGE_PLAN* plan);
// Before the erase: finds room for every range and reads it. FALSE after its
// message when there is no room or a read fails; nothing is erased then.
BOOL ReadKeptFlash(KEPT_FLASH* kept, HWND owner);
// Writes back the ranges before (or after) the image that wait outside the
// staging buffer and lie in blocks the erase reached: [erasedStart,
// erasedEnd). FALSE when the flash refused a write.
BOOL WriteKeptFlash(const KEPT_FLASH* kept, BOOL beforeImage, DWORD erasedStart, DWORD erasedEnd);
// Whether a range waits in the staged boot area.
BOOL KeptFlashStaged(const KEPT_FLASH* kept);
void ReleaseKeptFlash(KEPT_FLASH* kept);
