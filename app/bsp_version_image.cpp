// The running image's version, asked from the HAL, its build time, the
// creation time of \windows\default.fdf, and the build-time text.
#include <string.h>

#include "app/bsp_version.h"
#include "board/hal_ioctl.h"

#define FORMAT_ROOM 64
#define UNREPORTED_WORD 0xFFFFFFFFu

static const WCHAR kUnknownDate[] = TEXT("Unknown Date");

BOOL QueryImageVersion(VersionRecord* record) {
    // Marked beforehand, so a HAL that answers without writing the record is seen.
    VersionRecord reported = {UNREPORTED_WORD, UNREPORTED_WORD, UNREPORTED_WORD};
    BOOL answered = KernelIoControl(IOCTL_HAL_GET_IMAGE_VERSION, NULL, 0, &reported, sizeof reported, NULL);
    if (!answered || (reported.boardId == UNREPORTED_WORD && reported.major == UNREPORTED_WORD &&
                      reported.minorWord == UNREPORTED_WORD)) {
        memset(record, 0, sizeof *record);
        return FALSE;
    }
    *record = reported;
    return TRUE;
}

void ReadImageBuildTime(WCHAR* dateText) {
    HANDLE file = CreateFileW(TEXT("\\windows\\default.fdf"), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        StringCchCopyW(dateText, BSP_DATE_TEXT_CHARS, kUnknownDate);
        return;
    }
    FILETIME created;
    BOOL haveTime = GetFileTime(file, &created, NULL, NULL);
    CloseHandle(file);

    SYSTEMTIME time;
    if (!haveTime || !FileTimeToSystemTime(&created, &time)) {
        StringCchCopyW(dateText, BSP_DATE_TEXT_CHARS, kUnknownDate);
        return;
    }
    FormatBuildTime(&time, dateText);
}

void ReadImageVersion(VersionRecord* record, WCHAR* dateText) {
    QueryImageVersion(record);
    ReadImageBuildTime(dateText);
}

void FormatBuildTime(const SYSTEMTIME* time, WCHAR* dateText) {
    // The date, then a blank in place of its terminator; a rejected date leaves both out.
    DWORD used = 0;
    int written = GetDateFormatW(LOCALE_SYSTEM_DEFAULT, 0, time, TEXT("dd MMM yyyy"), dateText, FORMAT_ROOM);
    if (written > 0) {
        used = (DWORD)written;
        dateText[used - 1] = TEXT(' ');
    }

    // The locale's own 24-hour time, without the user's overrides.
    written = GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, LOCALE_NOUSEROVERRIDE | TIME_FORCE24HOURFORMAT, time, NULL,
                             dateText + used, FORMAT_ROOM);
    if (written > 0) used += (DWORD)written - 1;
    dateText[used] = TEXT('\0');

    // A text near the buffer's size loses the end of the suffix, never more.
    StringCchCatW(dateText, BSP_DATE_TEXT_CHARS, TEXT(" (GMT)"));
}
