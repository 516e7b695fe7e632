// The update's process-wide state.
#include "update/update.h"
#include "update/update_progress.h"

volatile DWORD AbortRequested;
// Word-aligned: the flash back-ends move whole 32-bit words.
alignas(4) BYTE StagingBuffer[STAGING_BUFFER_SIZE];
BOOL BootAreaStaged;
HWND ProgressDialogWindow;
DWORD TranslatedImageStart;
BOOL EraseTouchedFlash;
DWORD EraseBytesConfirmed;
