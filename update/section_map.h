// The five named flash sections, their detection from what the flash and the
// board report, and the warning before an update overwrites any of them.
#pragma once
#include "platform/windows.h"

enum {
    kSectionBootloader = 0,
    kSectionConfigBlock = 1,
    kSectionImage = 2,
    kSectionRegistry = 3,
    kSectionFileSystem = 4,
    kSectionCount = 5,
};

#define CONFIG_BLOCK_PLACE 0x40000
#define CONFIG_BLOCK_OLD_PLACE 0x88000
// The first word of the configuration block.
#define CONFIG_BLOCK_MAGIC 0xCF014000u

// Five 32-bit fields on the module: the name is a pointer.
typedef struct FlashSection {
    LPCWSTR name;
    DWORD start;
    DWORD length;
    DWORD flags;
    DWORD used;
} FlashSection;

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(FlashSection) == 20, "flash section is five 32-bit fields");
#endif

#define ROMHDR_SIZE 84
static_assert(ROMHDR_SIZE == 21 * sizeof(DWORD), "ROMHDR is 84 bytes");

extern FlashSection SectionMap[kSectionCount];

BOOL FindImageHeader(DWORD flashOffset, BYTE romHeader[ROMHDR_SIZE], DWORD* romHeaderOffset);
DWORD ImageSizeAt(DWORD flashOffset);
BOOL DetectSectionMap(void);
BOOL WarnOverwrite(DWORD start, DWORD length, HWND owner);
