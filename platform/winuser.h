// Windows CE user interface: resources, dialog templates, dialogs, messages,
// message boxes.
#pragma once
#include "platform/wintypes.h"

#define MAKEINTRESOURCEW(i) ((LPCWSTR)(ULONG_PTR)((WORD)(i)))
#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)
#define RT_ICON MAKEINTRESOURCEW(3)
#define RT_DIALOG MAKEINTRESOURCEW(5)
#define RT_GROUP_ICON MAKEINTRESOURCEW(14)

#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))

// The program's resource section: on a real module the resource compiler
// builds it into the executable; here res/ lists it in this form and the
// loader finds it through the instance handle.
typedef struct _RESOURCE_ENTRY {
    LPCWSTR type;
    LPCWSTR name;
    WORD language;
    const void* data;
    DWORD size;
} RESOURCE_ENTRY;

#pragma pack(push, 2)
typedef struct {
    DWORD style;
    DWORD dwExtendedStyle;
    WORD cdit;
    short x;
    short y;
    short cx;
    short cy;
} DLGTEMPLATE;
typedef struct {
    DWORD style;
    DWORD dwExtendedStyle;
    short x;
    short y;
    short cx;
    short cy;
    WORD id;
} DLGITEMTEMPLATE;
#pragma pack(pop)
typedef const DLGTEMPLATE* LPCDLGTEMPLATEW;

typedef BOOL(CALLBACK* DLGPROC)(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Window styles
#define WS_POPUP 0x80000000UL
#define WS_CHILD 0x40000000UL
#define WS_VISIBLE 0x10000000UL
#define WS_CAPTION 0x00C00000UL
#define WS_BORDER 0x00800000UL
#define WS_SYSMENU 0x00080000UL
#define WS_GROUP 0x00020000UL
#define WS_TABSTOP 0x00010000UL
#define DS_MODALFRAME 0x80
#define DS_SETFONT 0x40
#define BS_PUSHBUTTON 0x0
#define BS_DEFPUSHBUTTON 0x1
#define SS_LEFT 0x0

// Messages
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_CLOSE 0x0010
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111

// Dialog and message box results
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7

// Message box flags
#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ABORTRETRYIGNORE 0x00000002L
#define MB_YESNOCANCEL 0x00000003L
#define MB_YESNO 0x00000004L
#define MB_RETRYCANCEL 0x00000005L
#define MB_TYPEMASK 0x0000000FL
#define MB_ICONHAND 0x00000010L
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONASTERISK 0x00000040L
#define MB_ICONMASK 0x000000F0L
#define MB_DEFBUTTON1 0x00000000L
#define MB_DEFBUTTON2 0x00000100L
#define MB_DEFBUTTON3 0x00000200L
#define MB_DEFMASK 0x00000F00L

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
DWORD SizeofResource(HMODULE module, HRSRC resource);

INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialogTemplate, HWND owner, DLGPROC dialogProc,
                                LPARAM initParam);
BOOL EndDialog(HWND dialog, INT_PTR result);
HWND GetDlgItem(HWND dialog, int id);
BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
BOOL SetWindowTextW(HWND window, LPCWSTR text);
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
