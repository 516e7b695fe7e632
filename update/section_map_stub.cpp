// Stands in for the section map until it exists: the default map, and an
// overwrite warning that lets every update go on.
#include "update/section_map.h"

FlashSection SectionMap[kSectionCount] = {
    {TEXT("Bootloader"), 0, 0x40000, 3, 0},
    {TEXT("ConfigBlock"), 0x40000, 0x40000, 3, 0},
    {TEXT("IMAGE"), 0x80000, 0x1400000, 3, 0},
    {TEXT("Registry"), 0x1400000, 0x80000, 0, 0},
    {TEXT("FileSystem"), 0x14800000, 0x0B800000, 0, 0},
};

BOOL WarnOverwrite(DWORD, DWORD, HWND) { return TRUE; }
