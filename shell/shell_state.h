// Process-wide state of the application shell, read by the update.
#pragma once
#include "platform/windows.h"

#define IMAGE_PATH_CHARS 260

extern HINSTANCE ProgramInstance;
extern DWORD QuietMode;
extern WCHAR ImagePath[IMAGE_PATH_CHARS];
extern HWND MainWindow;
