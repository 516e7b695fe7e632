// The main dialog (template 101): six buttons, one job each.
#pragma once
#include "platform/windows.h"

#define PROGRAM_VERSION_MAJOR 2
#define PROGRAM_VERSION_MINOR 7

BOOL CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Runs the main dialog modally, without owner, until it is closed.
void ShowMainDialog(void);
