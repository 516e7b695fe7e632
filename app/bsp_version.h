// The "BSP Version" report: bootloader in flash and running image.
#pragma once
#include "platform/windows.h"

typedef struct VersionRecord {
    DWORD boardId;
    DWORD major;
    DWORD minorWord;  // bits 15..0 minor, bits 31..16 beta build number
} VersionRecord;

static_assert(sizeof(VersionRecord) == 12, "version record is 12 bytes");

// Text buffers in characters, terminator included.
#define BSP_REPORT_CHARS 256
#define BSP_DATE_TEXT_CHARS 128
#define BSP_BETA_TEXT_CHARS 32

// The older bootloader's banner is looked for in this copy of flash.
#define BANNER_COPY_OFFSET 0x8000
#define BANNER_COPY_SIZE 0x20000

void ShowBspVersion(HWND owner);
void ReadBootloaderVersion(VersionRecord* record, WCHAR* dateText);
void ReadImageVersion(VersionRecord* record, WCHAR* dateText);
BOOL FindVersionRecord(VersionRecord* record);
// Returns the position after the banner inside *flashCopy (BANNER_COPY_SIZE
// bytes, released by the caller with LocalFree), or NULL with no copy.
const char* FindBanner(BYTE** flashCopy);
int MonthFromName(const char* word);
void FormatBuildTime(const SYSTEMTIME* time, WCHAR* dateText);

// The two halves of ReadImageVersion. QueryImageVersion returns FALSE, and
// leaves the record all zero, when the HAL does not report the version.
BOOL QueryImageVersion(VersionRecord* record);
// The creation time of \windows\default.fdf, or "Unknown Date".
void ReadImageBuildTime(WCHAR* dateText);

// The banner's text after its prefix, read as "%d.%d for Zantrel Fennaro
// Built %s %d %d" within text .. end (never past end, stopping at a zero
// byte). Fields not reached, or cut off by the end, keep their values.
#define BANNER_WORD_CHARS 16
typedef struct BannerFields {
    int major;
    int minor;
    char month[BANNER_WORD_CHARS];
    int day;
    int year;
} BannerFields;
int ScanBannerText(const char* text, const char* end, BannerFields* fields);
