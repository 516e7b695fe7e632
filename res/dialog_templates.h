// The two dialog templates as the resource compiler lays out a classic
// DLGTEMPLATE: the header, no menu, the default class, the caption, the font
// (DS_SETFONT: point size, then face name), then one DLGITEMTEMPLATE per
// control, each starting on a DWORD boundary, followed by its class (0xFFFF
// and an atom, or a class name), its title and a creation-data size of 0.
// The AlignN words are the padding that brings the next item to a DWORD.
#pragma once
#include "platform/windows.h"

#define ORDINAL_MARKER 0xFFFF  // the next word is an ordinal (a class atom)
#define BUTTON_CLASS_ATOM 0x0080
#define STATIC_CLASS_ATOM 0x0082

#pragma pack(push, 2)

typedef struct {
    DLGTEMPLATE dialog;
    WORD menu;
    WORD windowClass;
    WCHAR caption[12];  // "Update Tool"
    WORD pointSize;
    WCHAR typeface[7];  // "System"
    WORD align0;

    DLGITEMTEMPLATE saveRegistry;
    WORD saveRegistryClass[2];
    WCHAR saveRegistryText[23];
    WORD saveRegistryCreationData;
    WORD align1;

    DLGITEMTEMPLATE clearRegistry;
    WORD clearRegistryClass[2];
    WCHAR clearRegistryText[24];
    WORD clearRegistryCreationData;

    DLGITEMTEMPLATE updateImage;
    WORD updateImageClass[2];
    WCHAR updateImageText[24];
    WORD updateImageCreationData;

    DLGITEMTEMPLATE bspVersion;
    WORD bspVersionClass[2];
    WCHAR bspVersionText[12];
    WORD bspVersionCreationData;

    DLGITEMTEMPLATE coldboot;
    WORD coldbootClass[2];
    WCHAR coldbootText[9];
    WORD coldbootCreationData;
    WORD align2;

    DLGITEMTEMPLATE warmboot;
    WORD warmbootClass[2];
    WCHAR warmbootText[9];
    WORD warmbootCreationData;
} MAIN_DIALOG_TEMPLATE;

typedef struct {
    DLGTEMPLATE dialog;
    WORD menu;
    WORD windowClass;
    WCHAR caption[15];  // "Updating IMAGE"
    WORD pointSize;
    WCHAR typeface[7];  // "System"

    DLGITEMTEMPLATE abort;
    WORD abortClass[2];
    WCHAR abortText[6];
    WORD abortCreationData;

    DLGITEMTEMPLATE recordProgress;
    WCHAR recordProgressClass[18];  // "msctls_progress32"
    WCHAR recordProgressText[10];
    WORD recordProgressCreationData;

    DLGITEMTEMPLATE imageProgress;
    WCHAR imageProgressClass[18];
    WCHAR imageProgressText[10];
    WORD imageProgressCreationData;

    DLGITEMTEMPLATE statusLine;
    WORD statusLineClass[2];
    WCHAR statusLineText[1];
    WORD statusLineCreationData;
    WORD align0;

    DLGITEMTEMPLATE imageLine;
    WORD imageLineClass[2];
    WCHAR imageLineText[1];
    WORD imageLineCreationData;
} PROGRESS_DIALOG_TEMPLATE;

#pragma pack(pop)

extern const MAIN_DIALOG_TEMPLATE MainDialogTemplate;
extern const PROGRESS_DIALOG_TEMPLATE ProgressDialogTemplate;
