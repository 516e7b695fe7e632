// The progress dialog's bars and the erase progress shown on them.
#include "platform/commctrl.h"
#include "res/resource_ids.h"
#include "update/update.h"
#include "update/update_progress.h"

void SetProgressRange(HWND dialog, int barId, DWORD bytes) {
    DWORD high = bytes >> 10;
    if (high == 0) high = 1;
    SendMessageW(GetDlgItem(dialog, barId), PBM_SETRANGE32, 0, (LPARAM)high);
}

void SetProgressPosition(HWND dialog, int barId, DWORD bytes) {
    SendMessageW(GetDlgItem(dialog, barId), PBM_SETPOS, (WPARAM)(bytes >> 10), 0);
}

BOOL OnEraseProgress(DWORD bytesDone, DWORD bytesTotal) {
    HWND dialog = ProgressDialogWindow;
    // Outside an update there is no dialog to show progress on.
    if (dialog != NULL) {
        if (bytesDone == 0) SetProgressRange(dialog, IDC_PROGRESS_RECORD, bytesTotal);
        WCHAR text[256];
        if (bytesDone < bytesTotal)
            StringCchPrintfW(text, 256, TEXT("Erasing Flash Sector at %.8x"), TranslatedImageStart + bytesDone);
        else
            StringCchPrintfW(text, 256, TEXT("done"));
        SetDlgItemTextW(dialog, IDC_STATUS_LINE, text);
        SetProgressPosition(dialog, IDC_PROGRESS_RECORD, bytesDone);
    }
    // Reports come before a block, after every block before it was erased.
    EraseBytesConfirmed = bytesDone;
    if (AbortRequested) return FALSE;
    EraseTouchedFlash = TRUE;
    return TRUE;
}
