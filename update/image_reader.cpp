#include <string.h>

#include "shell/shell_state.h"
#include "update/image_file.h"

#define MESSAGE_CHARS 256

static const BYTE kImageSignature[IMAGE_SIGNATURE_SIZE] = {'B', '0', '0', '0', 'F', 'F', '\n'};

static void ReportUnexpectedEnd(HWND owner) {
    MessageBoxW(owner, TEXT("Unexpected end of file!"), TEXT("ERROR"), MB_OK);
}

// Reads exactly size bytes unless the file ends first.
static BOOL ReadExactly(HANDLE file, void* buffer, DWORD size) {
    BYTE* position = (BYTE*)buffer;
    while (size > 0) {
        DWORD bytesRead = 0;
        if (!ReadFile(file, position, size, &bytesRead, NULL) || bytesRead == 0 || bytesRead > size) return FALSE;
        position += bytesRead;
        size -= bytesRead;
    }
    return TRUE;
}

static DWORD LittleEndianWord(const BYTE* bytes) {
    return (DWORD)bytes[0] | ((DWORD)bytes[1] << 8) | ((DWORD)bytes[2] << 16) | ((DWORD)bytes[3] << 24);
}

HANDLE OpenImageFile(HWND owner) {
    HANDLE file = CreateFileW(ImagePath, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        // A long path is cut to the message buffer, never written past it.
        WCHAR text[MESSAGE_CHARS];
        StringCchPrintfW(text, MESSAGE_CHARS, TEXT("Cannot Open Image File %s"), ImagePath);
        MessageBoxW(owner, text, TEXT("ERROR"), MB_OK);
    }
    return file;
}

BOOL TakeImageFileStamp(HANDLE file, IMAGE_FILE_STAMP* stamp) {
    stamp->sizeLow = GetFileSize(file, &stamp->sizeHigh);
    if (stamp->sizeLow == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) return FALSE;
    return GetFileTime(file, NULL, NULL, &stamp->written);
}

BOOL RewindImageFile(HANDLE file) {
    LONG high = 0;
    return SetFilePointer(file, 0, &high, FILE_BEGIN) != INVALID_SET_FILE_POINTER || GetLastError() == ERROR_SUCCESS;
}

// A stamp that cannot be taken again proves nothing: the file counts as changed.
BOOL ImageFileUnchanged(HANDLE file, HWND owner, const IMAGE_FILE_STAMP* stamp) {
    IMAGE_FILE_STAMP now;
    if (TakeImageFileStamp(file, &now) && now.sizeLow == stamp->sizeLow && now.sizeHigh == stamp->sizeHigh &&
        now.written.dwLowDateTime == stamp->written.dwLowDateTime &&
        now.written.dwHighDateTime == stamp->written.dwHighDateTime)
        return TRUE;
    MessageBoxW(owner, TEXT("Image File has changed since it was checked!"), TEXT("ERROR"), MB_OK);
    return FALSE;
}

BOOL ReadImageHeader(HANDLE file, HWND owner, IMAGE_HEADER* header) {
    BYTE signature[IMAGE_SIGNATURE_SIZE];
    if (!ReadExactly(file, signature, sizeof signature) || memcmp(signature, kImageSignature, sizeof signature) != 0) {
        MessageBoxW(owner, TEXT("Not a WinCE Binary Image file!"), TEXT("ERRER"), MB_OK);
        return FALSE;
    }
    // A file that ends inside the start and length would leave the erase
    // range undefined: it stops here, before anything is erased.
    BYTE fields[8];
    if (!ReadExactly(file, fields, sizeof fields)) {
        ReportUnexpectedEnd(owner);
        return FALSE;
    }
    header->imageStart = LittleEndianWord(fields);
    header->imageLength = LittleEndianWord(fields + 4);
    return TRUE;
}

int ReadRecordHead(HANDLE file, HWND owner, IMAGE_RECORD_HEAD* head) {
    BYTE fields[12];
    if (!ReadExactly(file, fields, sizeof fields)) {
        ReportUnexpectedEnd(owner);
        return kRecordHeadFailed;
    }
    head->address = LittleEndianWord(fields);
    head->length = LittleEndianWord(fields + 4);
    head->checksum = LittleEndianWord(fields + 8);
    if (head->address == 0 && head->checksum == 0) return kRecordHeadEnd;
    return kRecordHeadOrdinary;
}

BOOL ReadRecordPiece(HANDLE file, HWND owner, BYTE* piece, DWORD size) {
    if (!ReadExactly(file, piece, size)) {
        ReportUnexpectedEnd(owner);
        return FALSE;
    }
    return TRUE;
}

void ReportBadChecksum(HWND owner) {
    MessageBoxW(owner,
                TEXT("BAD CRC, Image File seems to be corrupt. Don't reboot Now! Try updating with another file"),
                TEXT("ERROR"), MB_OK);
}
