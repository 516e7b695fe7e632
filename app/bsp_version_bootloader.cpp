// The bootloader in flash: its version record (newer bootloaders) or its
// text banner (older ones), and its build time.
#include <string.h>

#include "app/bsp_version.h"
#include "flash/flash_ops.h"
#include "update/section_map.h"

#define VERSION_START_MARKER 0x01234567u
#define VERSION_END_MARKER 0x89ABCDEFu
#define VERSION_SEARCH_SIZE 0x40000u
#define VERSION_PAGE_SIZE 0x1000u
#define VERSION_PAGE_WORDS (VERSION_PAGE_SIZE / sizeof(DWORD))
#define VERSION_RECORD_WORDS 5
static_assert(sizeof(DWORD[VERSION_RECORD_WORDS]) == 20, "bootloader version record is 20 bytes");
#define BOOTLOADER_ALT_PLACE 0x8000u
#define TOC_ENTRY_SIZE 32
#define TOC_ENTRY_FILETIME 4
#define BOARD_ID_FENNARO 1

static const char kBannerPrefix[] = "Microsoft Windows CE Ethernet Bootloader ";
#define BANNER_PREFIX_LENGTH (sizeof kBannerPrefix - 1)

static BOOL ReadFlash(void* destination, DWORD offset, DWORD length) {
    return FlashOps.ReadBuffer && FlashOps.ReadBuffer(destination, offset, length);
}

BOOL FindVersionRecord(VersionRecord* record) {
    DWORD page[VERSION_PAGE_WORDS];
    for (DWORD pageOffset = 0; pageOffset < VERSION_SEARCH_SIZE; pageOffset += VERSION_PAGE_SIZE) {
        // A page that cannot be read holds no record.
        if (!ReadFlash(page, pageOffset, VERSION_PAGE_SIZE)) continue;
        for (DWORD word = 0; word < VERSION_PAGE_WORDS; word++) {
            if (page[word] != VERSION_START_MARKER) continue;
            // Read from flash, not the page: the record may run on into the next page.
            DWORD candidate[VERSION_RECORD_WORDS];
            if (!ReadFlash(candidate, pageOffset + word * sizeof(DWORD), sizeof candidate)) continue;
            if (candidate[4] != VERSION_END_MARKER) continue;
            record->boardId = candidate[1];
            record->major = candidate[2];
            record->minorWord = candidate[3];
            return TRUE;
        }
    }
    return FALSE;
}

const char* FindBanner(BYTE** flashCopy) {
    *flashCopy = NULL;
    BYTE* copy = (BYTE*)LocalAlloc(LMEM_FIXED, BANNER_COPY_SIZE);
    if (!copy) return NULL;
    if (!ReadFlash(copy, BANNER_COPY_OFFSET, BANNER_COPY_SIZE)) {
        LocalFree(copy);
        return NULL;
    }
    // The whole banner lies inside the copy.
    for (DWORD at = 0; at + BANNER_PREFIX_LENGTH <= BANNER_COPY_SIZE; at++) {
        if (copy[at] == (BYTE)kBannerPrefix[0] && memcmp(copy + at, kBannerPrefix, BANNER_PREFIX_LENGTH) == 0) {
            *flashCopy = copy;
            return (const char*)copy + at + BANNER_PREFIX_LENGTH;
        }
    }
    LocalFree(copy);
    return NULL;
}

// The build time of the first module in the table of contents that follows
// the bootloader image's ROMHDR; FALSE when there is no image to ask.
static BOOL ReadBootloaderBuildTime(SYSTEMTIME* time) {
    BYTE romHeader[ROMHDR_SIZE];
    DWORD romHeaderOffset = 0;
    if (!FindImageHeader(0, romHeader, &romHeaderOffset) &&
        !FindImageHeader(BOOTLOADER_ALT_PLACE, romHeader, &romHeaderOffset))
        return FALSE;
    BYTE entry[TOC_ENTRY_SIZE];
    if (!ReadFlash(entry, romHeaderOffset + ROMHDR_SIZE, sizeof entry)) return FALSE;
    FILETIME built;
    memcpy(&built, entry + TOC_ENTRY_FILETIME, sizeof built);
    return FileTimeToSystemTime(&built, time);
}

// An older bootloader's banner: board, version and build day.
static BOOL ReadBannerVersion(VersionRecord* record, SYSTEMTIME* time) {
    BYTE* copy;
    const char* text = FindBanner(&copy);
    if (!text) return FALSE;

    BannerFields fields;
    memset(&fields, 0, sizeof fields);
    ScanBannerText(text, (const char*)copy + BANNER_COPY_SIZE, &fields);
    LocalFree(copy);

    record->boardId = BOARD_ID_FENNARO;
    record->major = (DWORD)fields.major;
    record->minorWord = (DWORD)fields.minor;
    time->wDay = (WORD)fields.day;
    time->wYear = (WORD)fields.year;
    time->wMonth = (WORD)MonthFromName(fields.month);
    return TRUE;
}

void ReadBootloaderVersion(VersionRecord* record, WCHAR* dateText) {
    SYSTEMTIME time;
    memset(&time, 0, sizeof time);

    if (FindVersionRecord(record)) {
        if (!ReadBootloaderBuildTime(&time)) {
            StringCchCopyW(dateText, BSP_DATE_TEXT_CHARS, TEXT("Unknown Date"));
            return;
        }
    } else if (!ReadBannerVersion(record, &time)) {
        // Neither generation of bootloader: the zero record and the zero time.
        memset(&time, 0, sizeof time);
    }
    FormatBuildTime(&time, dateText);
}
