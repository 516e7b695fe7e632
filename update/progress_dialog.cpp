// The progress dialog (template 102): gets the image file, starts the worker,
// and turns Abort into a request the worker polls.
#include <string.h>

#include "platform/commdlg.h"
#include "shell/shell_state.h"
#include "update/update.h"

// Asks the user for the image file; FALSE when the user cancels.
static BOOL AskForImageFile(void) {
    OPENFILENAMEW request;
    memset(&request, 0, sizeof request);
    request.lStructSize = sizeof request;
    request.hwndOwner = MainWindow;
    // Filter pairs end with an empty string: the literal's own terminator.
    request.lpstrFilter = TEXT("IMAGE files\0*.bin\0");
    request.nFilterIndex = 1;
    ImagePath[0] = 0;
    request.lpstrFile = ImagePath;
    request.nMaxFile = IMAGE_PATH_CHARS;
    request.lpstrInitialDir = TEXT("\\");
    request.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameW(&request)) {
        ImagePath[0] = 0;
        return FALSE;
    }
    return TRUE;
}

// The worker ends the dialog itself; nobody waits for the thread.
static BOOL StartUpdateWorker(HWND dialog) {
    HANDLE worker = CreateThread(NULL, 0, UpdateWorker, dialog, 0, NULL);
    if (worker == NULL) return FALSE;
    CloseHandle(worker);
    return TRUE;
}

BOOL CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            if (ImagePath[0] == 0) {
                if (!AskForImageFile()) {
                    EndDialog(dialog, 0);
                    return FALSE;
                }
                AbortRequested = 0;
            }
            if (!StartUpdateWorker(dialog)) {
                // Without its worker the dialog would never end.
                MessageBoxW(dialog, TEXT("Cannot start the update!"), TEXT("ERROR"), MB_OK);
                ImagePath[0] = 0;
                EndDialog(dialog, 0);
                return FALSE;
            }
            return TRUE;
        case WM_COMMAND:
            // Abort, or Escape: the worker notices the flag and ends the dialog.
            if (LOWORD(wParam) == IDCANCEL) AbortRequested = 1;
            return TRUE;
        default: return FALSE;
    }
}
