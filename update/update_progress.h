// What the update worker shares with the erase progress callback: the dialog
// that shows the progress and where the image starts in flash.
#pragma once
#include "platform/windows.h"

extern HWND ProgressDialogWindow;
extern DWORD TranslatedImageStart;
// Set once the erase progress has let a block of the image range be erased:
// from then on the flash no longer holds what it held.
extern BOOL EraseTouchedFlash;
// Bytes from the erase's widened start whose blocks it certainly erased:
// those before its last progress report, a stopped erase's included.
extern DWORD EraseBytesConfirmed;

// Progress bars count in units of 1024 bytes; a range is never empty.
void SetProgressRange(HWND dialog, int barId, DWORD bytes);
void SetProgressPosition(HWND dialog, int barId, DWORD bytes);
