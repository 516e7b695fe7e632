// The command line, read at fixed character positions: /c, /cu, /f, /fu,
// /r<ms>, /rc<ms>, /u <path>. Anything that does not start with "/" shows the
// main dialog instead.
#pragma once
#include "platform/windows.h"

// The longest delay a reboot command waits: the largest value the module's
// 32-bit decimal conversion yields.
#define MAX_REBOOT_DELAY_MS 0x7FFFFFFFUL

void RunCommandLine(LPCWSTR commandLine);
// The delay of a reboot command from its text on: decimal milliseconds; a
// negative value means no delay.
DWORD ParseRebootDelay(LPCWSTR text);
