#include "app/main_dialog.h"

#include "app/bsp_version.h"
#include "app/registry_jobs.h"
#include "board/reboot.h"
#include "res/resource_ids.h"
#include "shell/shell_state.h"
#include "update/update.h"

static void RunMainDialogCommand(HWND dialog, WORD command) {
    switch (command) {
        case IDC_SAVE_REGISTRY: SaveRegistry(dialog); break;
        case IDC_CLEAR_REGISTRY: ClearRegistry(dialog); break;
        case IDC_UPDATE_IMAGE: OpenProgressDialog(dialog); break;
        case IDC_BSP_VERSION: ShowBspVersion(dialog); break;
        case IDC_COLDBOOT: Reboot(TRUE); break;
        case IDC_WARMBOOT: Reboot(FALSE); break;
        case IDCANCEL:
            // The dialog's window is gone once it has ended: nothing may own a
            // file dialog through it any more.
            MainWindow = NULL;
            EndDialog(dialog, 0);
            break;
        default: break;
    }
}

BOOL CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            WCHAR caption[128];
            StringCchPrintfW(caption, 128, TEXT("Update Tool %d.%d"), PROGRAM_VERSION_MAJOR, PROGRAM_VERSION_MINOR);
            SetWindowTextW(dialog, caption);
            MainWindow = dialog;
            // TRUE: the first button gets the focus.
            return TRUE;
        }
        case WM_COMMAND:
            // The notification code in the high word is not looked at.
            RunMainDialogCommand(dialog, LOWORD(wParam));
            return TRUE;
        default: return FALSE;
    }
}
