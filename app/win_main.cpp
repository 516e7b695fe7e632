#include "app/win_main.h"

#include "app/command_line.h"
#include "platform/commctrl.h"
#include "shell/shell_state.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
    ProgramInstance = instance;
    // The progress bars of the update dialog need the common controls.
    InitCommonControls();
    RunCommandLine(commandLine);
    // The exit code never reports a job's outcome.
    return 1;
}
