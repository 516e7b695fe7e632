#include "app/registry_jobs.h"

#include "board/hal_ioctl.h"
#include "shell/shell_state.h"

// The registry jobs' only report: one box, none in quiet mode.
static void ShowRegistryResult(HWND owner, LPCWSTR text) {
    if (QuietMode) return;
    MessageBoxW(owner, text, TEXT("Registry"), MB_OK);
}

void SaveRegistry(HWND owner) {
    BOOL saved = RegFlushKey(HKEY_LOCAL_MACHINE) == ERROR_SUCCESS;
    ShowRegistryResult(owner, saved ? TEXT("Registry Successfully Saved") : TEXT("Registry Save FAILED!"));
}

void ClearRegistry(HWND owner) {
    BOOL cleared = KernelIoControl(IOCTL_HAL_CLEAR_REGISTRY, NULL, 0, NULL, 0, NULL);
    ShowRegistryResult(owner, cleared ? TEXT("Registry Successfully Cleared") : TEXT("Registry Clear FAILED!"));
}
