// Opening the program's two dialogs from their templates in the resources.
#include "app/main_dialog.h"
#include "res/resource_ids.h"
#include "shell/shell_state.h"
#include "update/update.h"

// Runs one of the program's own dialog templates modally.
static void RunDialogTemplate(int templateId, HWND owner, DLGPROC dialogProc) {
    HRSRC resource = FindResourceW(ProgramInstance, MAKEINTRESOURCEW(templateId), RT_DIALOG);
    if (resource == NULL) return;
    HGLOBAL loaded = LoadResource(ProgramInstance, resource);
    if (loaded == NULL) return;
    DialogBoxIndirectParamW(ProgramInstance, (LPCDLGTEMPLATEW)loaded, owner, dialogProc, 0);
}

void ShowMainDialog(void) { RunDialogTemplate(IDD_MAIN_DIALOG, NULL, MainDialogProc); }

void OpenProgressDialog(HWND owner) { RunDialogTemplate(IDD_PROGRESS_DIALOG, owner, ProgressDialogProc); }
