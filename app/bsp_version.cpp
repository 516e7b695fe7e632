// The "BSP Version" message box: version, board and build time of the
// bootloader in flash and of the running image.
#include <string.h>

#include "app/bsp_version.h"
#include "flash/flash_ops.h"

#define BOARD_ID_FENNARO 1

static const WCHAR kBootloaderBlock[] = TEXT("Bootloader (in Flash)\r\nID:\t%s\r\nVer:\t%d.%d %s\r\nBuilt:\t%s");
static const WCHAR kImageBlock[] = TEXT("\r\n\r\nImage (current running)\r\nID:\t%s\r\nVer:\t%d.%d %s\r\nBuilt:\t%s");
static const WCHAR kImageBlockUnreported[] =
    TEXT("\r\n\r\nImage (current running)\r\nID:\t%s\r\nVer:\tUnknown Version\r\nBuilt:\t%s");

static LPCWSTR BoardName(const VersionRecord* record) {
    return record->boardId == BOARD_ID_FENNARO ? TEXT("FENNARO") : TEXT("UNKNOWN");
}

// "BETA, Build n" for a beta build, empty for a release.
static void FormatBetaText(const VersionRecord* record, WCHAR* betaText) {
    DWORD build = record->minorWord >> 16;
    if (build != 0)
        StringCchPrintfW(betaText, BSP_BETA_TEXT_CHARS, TEXT("BETA, Build %d"), (int)build);
    else
        betaText[0] = TEXT('\0');
}

static void AppendBlock(WCHAR* report, LPCWSTR format, const VersionRecord* record, const WCHAR* dateText) {
    WCHAR betaText[BSP_BETA_TEXT_CHARS];
    FormatBetaText(record, betaText);
    size_t used = wcslen(report);
    StringCchPrintfW(report + used, BSP_REPORT_CHARS - used, format, BoardName(record), (int)record->major,
                     (int)(record->minorWord & 0xFFFF), betaText, dateText);
}

void ShowBspVersion(HWND owner) {
    VersionRecord record;
    WCHAR dateText[BSP_DATE_TEXT_CHARS];
    WCHAR report[BSP_REPORT_CHARS];
    memset(&record, 0, sizeof record);
    report[0] = TEXT('\0');

    // The running system's flash drivers stay off the flash while it is read;
    // without the mutex the report goes on regardless.
    HANDLE mutex = CreateMutexW(NULL, FALSE, TEXT("OnModuleFlash"));
    if (mutex) WaitForSingleObject(mutex, INFINITE);

    // A back-end that fails to start makes every read fail: the zero record shows.
    SelectFlashBackend();
    ReadBootloaderVersion(&record, dateText);
    AppendBlock(report, kBootloaderBlock, &record, dateText);

    BOOL reported = QueryImageVersion(&record);
    ReadImageBuildTime(dateText);
    if (reported) {
        AppendBlock(report, kImageBlock, &record, dateText);
    } else {
        size_t used = wcslen(report);
        StringCchPrintfW(report + used, BSP_REPORT_CHARS - used, kImageBlockUnreported, TEXT("UNKNOWN"), dateText);
    }

    if (mutex) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    // The flash is free again while the box is open.
    MessageBoxW(owner, report, TEXT("BSP Version"), MB_OK);
}
