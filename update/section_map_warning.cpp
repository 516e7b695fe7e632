// The warning before an update overwrites named flash sections.
#include "update/section_map.h"

#define WARNING_TEXT_CHARS 256
#define WARNING_FLAGS (MB_OKCANCEL | MB_ICONEXCLAMATION | MB_DEFBUTTON2)

BOOL WarnOverwrite(DWORD start, DWORD length, HWND owner) {
    DetectSectionMap();

    // Every section that the range overlaps sets its bit, empty ones included
    // when their start lies inside the range.
    DWORD touched = 0;
    for (DWORD i = 0; i < kSectionCount; i++) {
        const FlashSection* section = &SectionMap[i];
        if (start < section->start + section->length && start + length > section->start) touched |= 1u << i;
    }
    if (touched == 0) return TRUE;

    WCHAR text[WARNING_TEXT_CHARS];
    StringCchCopyW(text, WARNING_TEXT_CHARS, TEXT("This Image will overwrite the following sections:\n"));
    for (DWORD i = 0; i < kSectionCount; i++) {
        if (!(touched & (1u << i))) continue;
        size_t used = wcslen(text);
        StringCchPrintfW(text + used, WARNING_TEXT_CHARS - used, TEXT("%s\n"), SectionMap[i].name);
    }
    StringCchCatW(text, WARNING_TEXT_CHARS, TEXT("\n\nAre you sure you want to continue?"));

    // Cancel is the default button: going on takes a deliberate answer.
    return MessageBoxW(owner, text, TEXT("WARNING"), WARNING_FLAGS) != IDCANCEL;
}
