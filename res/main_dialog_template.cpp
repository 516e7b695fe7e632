// Dialog template 101: the main dialog with its six job buttons, in tab
// order. "Warmboot" stands left of "Coldboot" although it comes last.
#include <stddef.h>

#include "res/dialog_templates.h"
#include "res/resource_ids.h"

#define MAIN_DIALOG_STYLE (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT)
#define JOB_BUTTON_STYLE (WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON)

static_assert(MAIN_DIALOG_STYLE == 0x80C800C0, "main dialog style");
static_assert(JOB_BUTTON_STYLE == 0x50010000, "job button style");

alignas(4) const MAIN_DIALOG_TEMPLATE MainDialogTemplate = {
    //  style              extended  items  x  y  cx   cy
    {MAIN_DIALOG_STYLE, 0, 6, 0, 0, 119, 119},
    0,  // no menu
    0,  // the dialog class
    TEXT("Update Tool"),
    8,
    TEXT("System"),
    0,

    //  style            extended  x   y   cx   cy  id
    {JOB_BUTTON_STYLE, 0, 7, 7, 105, 19, IDC_SAVE_REGISTRY},
    {ORDINAL_MARKER, BUTTON_CLASS_ATOM},
    TEXT("Save Registry to Flash"),
    0,
    0,

    {JOB_BUTTON_STYLE, 0, 7, 28, 105, 19, IDC_CLEAR_REGISTRY},
    {ORDINAL_MARKER, BUTTON_CLASS_ATOM},
    TEXT("Clear Registry on Flash"),
    0,

    {JOB_BUTTON_STYLE, 0, 7, 49, 105, 19, IDC_UPDATE_IMAGE},
    {ORDINAL_MARKER, BUTTON_CLASS_ATOM},
    TEXT("Update Bootloader/Image"),
    0,

    {JOB_BUTTON_STYLE, 0, 7, 70, 105, 19, IDC_BSP_VERSION},
    {ORDINAL_MARKER, BUTTON_CLASS_ATOM},
    TEXT("BSP Version"),
    0,

    {JOB_BUTTON_STYLE, 0, 69, 93, 43, 19, IDC_COLDBOOT},
    {ORDINAL_MARKER, BUTTON_CLASS_ATOM},
    TEXT("Coldboot"),
    0,
    0,

    {JOB_BUTTON_STYLE, 0, 7, 93, 43, 19, IDC_WARMBOOT},
    {ORDINAL_MARKER, BUTTON_CLASS_ATOM},
    TEXT("Warmboot"),
    0,
};

// Every item starts on a DWORD boundary; the whole template is 414 bytes.
static_assert(sizeof(DLGTEMPLATE) == 18 && sizeof(DLGITEMTEMPLATE) == 18, "template headers");
static_assert(offsetof(MAIN_DIALOG_TEMPLATE, saveRegistry) == 64, "first item");
static_assert(offsetof(MAIN_DIALOG_TEMPLATE, clearRegistry) == 136, "second item");
static_assert(offsetof(MAIN_DIALOG_TEMPLATE, updateImage) == 208, "third item");
static_assert(offsetof(MAIN_DIALOG_TEMPLATE, bspVersion) == 280, "fourth item");
static_assert(offsetof(MAIN_DIALOG_TEMPLATE, coldboot) == 328, "fifth item");
static_assert(offsetof(MAIN_DIALOG_TEMPLATE, warmboot) == 372, "sixth item");
static_assert(sizeof(MAIN_DIALOG_TEMPLATE) == 414, "template 101 size");
