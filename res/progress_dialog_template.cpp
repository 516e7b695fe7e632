// Dialog template 102: the progress dialog. Its Abort button lacks
// WS_VISIBLE: it is created hidden and nothing shows it, so only Escape
// (IDCANCEL) reaches the dialog routine.
#include <stddef.h>

#include "res/dialog_templates.h"
#include "res/resource_ids.h"

#define PROGRESS_DIALOG_STYLE (WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT)
#define ABORT_BUTTON_STYLE (WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON)
#define PROGRESS_BAR_STYLE (WS_CHILD | WS_VISIBLE | WS_BORDER)
#define STATUS_TEXT_STYLE (WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT)

static_assert(PROGRESS_DIALOG_STYLE == 0x80C000C0, "progress dialog style");
static_assert(ABORT_BUTTON_STYLE == 0x40010000, "abort button style");
static_assert(PROGRESS_BAR_STYLE == 0x50800000, "progress bar style");
static_assert(STATUS_TEXT_STYLE == 0x50020000, "status text style");

alignas(4) const PROGRESS_DIALOG_TEMPLATE ProgressDialogTemplate = {
    //  style                  extended  items  x  y  cx   cy
    {PROGRESS_DIALOG_STYLE, 0, 5, 0, 0, 171, 89},
    0,  // no menu
    0,  // the dialog class
    TEXT("Updating IMAGE"),
    8,
    TEXT("System"),

    //  style              extended  x   y   cx   cy  id
    {ABORT_BUTTON_STYLE, 0, 52, 71, 58, 11, IDCANCEL},
    {ORDINAL_MARKER, BUTTON_CLASS_ATOM},
    TEXT("Abort"),
    0,

    {PROGRESS_BAR_STYLE, 0, 7, 20, 157, 13, IDC_PROGRESS_RECORD},
    TEXT("msctls_progress32"),
    TEXT("Progress1"),
    0,

    {PROGRESS_BAR_STYLE, 0, 7, 52, 157, 14, IDC_PROGRESS_IMAGE},
    TEXT("msctls_progress32"),
    TEXT("Progress2"),
    0,

    {STATUS_TEXT_STYLE, 0, 7, 7, 157, 10, IDC_STATUS_LINE},
    {ORDINAL_MARKER, STATIC_CLASS_ATOM},
    TEXT(""),
    0,
    0,

    {STATUS_TEXT_STYLE, 0, 7, 39, 157, 10, IDC_IMAGE_LINE},
    {ORDINAL_MARKER, STATIC_CLASS_ATOM},
    TEXT(""),
    0,
};

// Every item starts on a DWORD boundary; the whole template is 310 bytes.
static_assert(offsetof(PROGRESS_DIALOG_TEMPLATE, abort) == 68, "first item");
static_assert(offsetof(PROGRESS_DIALOG_TEMPLATE, recordProgress) == 104, "second item");
static_assert(offsetof(PROGRESS_DIALOG_TEMPLATE, imageProgress) == 180, "third item");
static_assert(offsetof(PROGRESS_DIALOG_TEMPLATE, statusLine) == 256, "fourth item");
static_assert(offsetof(PROGRESS_DIALOG_TEMPLATE, imageLine) == 284, "fifth item");
static_assert(sizeof(PROGRESS_DIALOG_TEMPLATE) == 310, "template 102 size");
