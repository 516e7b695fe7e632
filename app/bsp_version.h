// The "BSP Version" report: bootloader in flash and running image.
#pragma once
#include "platform/windows.h"

typedef struct VersionRecord {
    DWORD boardId;
    DWORD major;
    DWORD minorWord;  // bits 15..0 minor, bits 31..16 beta build number
} VersionRecord;

static_assert(sizeof(VersionRecord) == 12, "version record is 12 bytes");

void ShowBspVersion(HWND owner);
void ReadBootloaderVersion(VersionRecord* record, WCHAR* dateText);
void ReadImageVersion(VersionRecord* record, WCHAR* dateText);
BOOL FindVersionRecord(VersionRecord* record);
const char* FindBanner(BYTE** flashCopy);
int MonthFromName(const char* word);
void FormatBuildTime(const SYSTEMTIME* time, WCHAR* dateText);
