// Reading a Windows CE binary image (.bin): the header "B000FF\n", image start
// and length, then records {address, length, checksum, data} up to the end
// record (address 0 and checksum 0). Addresses become flash offsets through
// the AddressBias. Each reading step shows its own message box, owned by the
// progress dialog, when it fails.
#pragma once
#include "platform/windows.h"

#define IMAGE_SIGNATURE_SIZE 7
#define DEFAULT_IMAGE_PLACE 0x80000

typedef struct IMAGE_HEADER {
    DWORD imageStart;
    DWORD imageLength;
} IMAGE_HEADER;

typedef struct IMAGE_RECORD_HEAD {
    DWORD address;
    DWORD length;
    DWORD checksum;
} IMAGE_RECORD_HEAD;

// What says that the open file is still the one the check pass read: its
// size and the time it was last written.
typedef struct IMAGE_FILE_STAMP {
    DWORD sizeLow;
    DWORD sizeHigh;
    FILETIME written;
} IMAGE_FILE_STAMP;

enum RecordHeadResult {
    kRecordHeadFailed = 0,
    kRecordHeadOrdinary = 1,
    kRecordHeadEnd = 2,
};

DWORD ByteSum(const BYTE* bytes, DWORD count);
DWORD ComputeAddressBias(DWORD imageStart);

// Opens ImagePath for reading; INVALID_HANDLE_VALUE after its message.
HANDLE OpenImageFile(HWND owner);
// The file stays open, shared with nobody, from the check pass to the end
// of the update; the write pass reads it again from its start.
BOOL TakeImageFileStamp(HANDLE file, IMAGE_FILE_STAMP* stamp);
BOOL RewindImageFile(HANDLE file);
// Whether the file still has the stamp taken when it was opened; shows the
// message for a changed file when it has not.
BOOL ImageFileUnchanged(HANDLE file, HWND owner, const IMAGE_FILE_STAMP* stamp);
// Signature, image start and image length.
BOOL ReadImageHeader(HANDLE file, HWND owner, IMAGE_HEADER* header);
int ReadRecordHead(HANDLE file, HWND owner, IMAGE_RECORD_HEAD* head);
// One data piece, which must arrive whole.
BOOL ReadRecordPiece(HANDLE file, HWND owner, BYTE* piece, DWORD size);
void ReportBadChecksum(HWND owner);
