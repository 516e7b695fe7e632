// How front-ends and the host reach a running dialog from outside.
#pragma once
#include "platform/windows.h"

namespace sim::ui {

// A user action: WM_COMMAND with this id (notification BN_CLICKED) goes to the
// dialog routine. On the dialog's own thread it runs at once; from any other
// thread it is queued and runs on the dialog's thread without the caller
// waiting, as a key press would. False when the dialog is gone or ending.
bool deliver_command(HWND dialog, int id);

// Makes an idle dialog ask its front-end for input again. Any thread.
void wake_dialog(HWND dialog);

// The most recently opened dialog that is still open, or null.
HWND active_dialog();

}  // namespace sim::ui
