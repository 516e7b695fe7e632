// The flash section map and its detection from what the flash, the board's
// configuration item 5 and the NOR flash driver's registry keys report.
// Detection moves a configuration block found at its old place.
#include "update/section_map.h"
#include "board/hal_ioctl.h"
#include "flash/flash_ops.h"

#define SECTION_ALIGN 0x40000u
#define CONFIG_BLOCK_AREA 0x40000u
#define CONFIG_PAGE_SIZE 0x1000u
#define CONFIG_PAGE_WORDS (CONFIG_PAGE_SIZE / sizeof(DWORD))
#define ERASED_WORD 0xFFFFFFFFu
#define BOOTLOADER_ALT_PLACE 0x8000u
#define IMAGE_PLACE 0x80000u
#define IMAGE_ALT_PLACE 0xC8000u
#define FLASH_LAYOUT_WORDS 6

// name, start, length, flags, used
FlashSection SectionMap[kSectionCount] = {
    {TEXT("Bootloader"), 0, 0x40000, 3, 0},
    {TEXT("ConfigBlock"), 0x40000, 0x40000, 3, 0},
    {TEXT("IMAGE"), 0x80000, 0x1400000, 3, 0},
    {TEXT("Registry"), 0x1400000, 0x80000, 0, 0},
    {TEXT("FileSystem"), 0x14800000, 0x0B800000, 0, 0},
};

static const LPCWSTR kFlashDriverKeys[] = {
    TEXT("Drivers\\BuiltIn\\StrataFMD"),
    TEXT("Drivers\\BlockDevice\\StrataFMD"),
};

static DWORD RoundUpToSection(DWORD size) { return (size + (SECTION_ALIGN - 1)) & ~(SECTION_ALIGN - 1); }

static void SetDetected(FlashSection* section, DWORD start, DWORD used) {
    section->start = start;
    section->used = used;
    section->length = RoundUpToSection(used);
}

// A failed read counts as a page without the block's data.
static BOOL ReadConfigPage(DWORD* page, DWORD flashOffset) {
    return FlashOps.ReadBuffer && FlashOps.ReadBuffer(page, flashOffset, CONFIG_PAGE_SIZE);
}

static void DetectBootloader(void) {
    DWORD size = ImageSizeAt(0);
    if (size == 0) {
        // An image at 32 KiB makes the section run from 0 to its end.
        size = ImageSizeAt(BOOTLOADER_ALT_PLACE);
        if (size != 0) size += BOOTLOADER_ALT_PLACE;
    }
    SetDetected(&SectionMap[kSectionBootloader], 0, size);
}

static void DetectConfigBlock(void) {
    DWORD page[CONFIG_PAGE_WORDS];
    DWORD place;
    BOOL moving = FALSE;

    if (ReadConfigPage(page, CONFIG_BLOCK_PLACE) && page[0] == CONFIG_BLOCK_MAGIC) {
        place = CONFIG_BLOCK_PLACE;
    } else if (ReadConfigPage(page, CONFIG_BLOCK_OLD_PLACE) && page[0] == CONFIG_BLOCK_MAGIC) {
        // The block at its old place is copied to its current place; the old copy
        // stays. Over an area that could not be erased a copy would only be
        // garbled, so none is made.
        place = CONFIG_BLOCK_OLD_PLACE;
        moving = FlashOps.EraseRange(CONFIG_BLOCK_PLACE, CONFIG_BLOCK_AREA);
    } else {
        SetDetected(&SectionMap[kSectionConfigBlock], CONFIG_BLOCK_PLACE, 0);
        return;
    }

    // The block ends at its first erased word; a move copies every page up to
    // and including the one that holds it.
    DWORD size = CONFIG_BLOCK_AREA;
    for (DWORD pageOffset = 0; pageOffset < CONFIG_BLOCK_AREA; pageOffset += CONFIG_PAGE_SIZE) {
        // A page that cannot be read ends the block there, and nothing unread is copied.
        if (!ReadConfigPage(page, place + pageOffset)) {
            size = pageOffset;
            break;
        }
        // A page that fails to program ends the copy; the size scan goes on.
        if (moving && !FlashOps.WriteBuffer(page, CONFIG_BLOCK_PLACE + pageOffset, CONFIG_PAGE_SIZE)) moving = FALSE;
        DWORD word = 0;
        while (word < CONFIG_PAGE_WORDS && page[word] != ERASED_WORD) word++;
        if (word < CONFIG_PAGE_WORDS) {
            size = pageOffset + word * sizeof(DWORD);
            break;
        }
    }
    // After a move the start stays at the old place: the update looks for exactly that.
    SetDetected(&SectionMap[kSectionConfigBlock], place, size);
}

static void DetectImage(void) {
    DWORD start = IMAGE_PLACE;
    DWORD size = ImageSizeAt(IMAGE_PLACE);
    if (size == 0) {
        start = IMAGE_ALT_PLACE;
        size = ImageSizeAt(IMAGE_ALT_PLACE);
    }
    SetDetected(&SectionMap[kSectionImage], start, size);
}

static void DetectRegistry(void) {
    DWORD item[FLASH_LAYOUT_WORDS] = {0, 0, 0, 0, 0, 0};
    DWORD bytesReturned = 0;
    CONFIG_ITEM_REQUEST request = {kConfigItemFlashLayout, item, sizeof item};
    if (!KernelIoControl(IOCTL_HAL_GET_CONFIG_ITEM, &request, sizeof request, item, sizeof item, &bytesReturned))
        bytesReturned = 0;
    // Words 1 and 2 count only when the board returned them.
    if (bytesReturned < 3 * sizeof(DWORD)) return;
    SectionMap[kSectionRegistry].start = item[1];
    SectionMap[kSectionRegistry].length = item[2] * 2;
}

// A value that cannot be read leaves the field as it was.
static void QueryDword(HKEY key, LPCWSTR name, DWORD* field) {
    DWORD value = *field;
    DWORD size = sizeof value;
    if (RegQueryValueExW(key, name, NULL, NULL, (LPBYTE)&value, &size) == ERROR_SUCCESS) *field = value;
}

static void DetectFileSystem(void) {
    HKEY key = NULL;
    DWORD k;
    for (k = 0; k < sizeof kFlashDriverKeys / sizeof kFlashDriverKeys[0]; k++) {
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kFlashDriverKeys[k], 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) break;
    }
    if (k == sizeof kFlashDriverKeys / sizeof kFlashDriverKeys[0]) return;
    QueryDword(key, TEXT("MemBase"), &SectionMap[kSectionFileSystem].start);
    QueryDword(key, TEXT("MemLen"), &SectionMap[kSectionFileSystem].length);
    RegCloseKey(key);
}

BOOL DetectSectionMap(void) {
    DetectBootloader();
    DetectConfigBlock();
    DetectImage();
    DetectRegistry();
    DetectFileSystem();
    return TRUE;
}
