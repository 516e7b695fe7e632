// Stands in for the version report until it exists.
#include "app/bsp_version.h"

void ShowBspVersion(HWND owner) {
    MessageBoxW(owner, TEXT("Version report not available in this build"), TEXT("BSP Version"), MB_OK);
}
