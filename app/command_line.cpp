#include "app/command_line.h"

#include "app/main_dialog.h"
#include "app/registry_jobs.h"
#include "board/reboot.h"
#include "shell/shell_state.h"
#include "update/update.h"

DWORD ParseRebootDelay(LPCWSTR text) {
    long delay = _wtol(text);
    // A negative delay would reach Sleep as a wait of weeks: no delay instead.
    if (delay <= 0) return 0;
    if ((unsigned long)delay > MAX_REBOOT_DELAY_MS) return MAX_REBOOT_DELAY_MS;
    return (DWORD)delay;
}

// The update command: the path runs from position 3 to the end; position 2 is
// the separator, whatever it holds. A path that does not fit ImagePath is
// refused rather than cut into the name of some other file.
static void RunUpdateCommand(LPCWSTR commandLine) {
    LPCWSTR path = TEXT("");
    if (commandLine[2] != 0) path = commandLine + 3;
    if (wcslen(path) >= IMAGE_PATH_CHARS) {
        WCHAR text[256];
        StringCchPrintfW(text, 256, TEXT("Image File path too long (more than %d characters)!"), IMAGE_PATH_CHARS - 1);
        MessageBoxW(NULL, text, TEXT("ERROR"), MB_OK);
        return;
    }
    StringCchCopyW(ImagePath, IMAGE_PATH_CHARS, path);
    QuietMode = 1;
    OpenProgressDialog(NULL);
}

void RunCommandLine(LPCWSTR commandLine) {
    if (commandLine == NULL) commandLine = TEXT("");
    if (commandLine[0] != '/') {
        ShowMainDialog();
        return;
    }
    switch (commandLine[1]) {
        case 'u': RunUpdateCommand(commandLine); break;
        case 'f':
            if (commandLine[2] == 'u') QuietMode = 1;
            SaveRegistry(NULL);
            break;
        case 'c':
            if (commandLine[2] == 'u') QuietMode = 1;
            ClearRegistry(NULL);
            break;
        case 'r': {
            BOOL cold = commandLine[2] == 'c';
            Sleep(ParseRebootDelay(commandLine + (cold ? 3 : 2)));
            Reboot(cold);
            break;
        }
        default:
            // An unknown command does nothing at all.
            break;
    }
}
