// The application shell's process-wide state; all zero when the program starts.
#include "shell/shell_state.h"

HINSTANCE ProgramInstance;
DWORD QuietMode;
WCHAR ImagePath[IMAGE_PATH_CHARS];
HWND MainWindow;
