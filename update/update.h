// The image update: progress dialog, worker thread and erase progress.
#pragma once
#include "platform/windows.h"

#define STAGING_BUFFER_SIZE 0x40000
#define BOOT_AREA_WRITE_SIZE 0x3F800
#define UPDATE_PIECE_SIZE 0x4000

extern volatile DWORD AbortRequested;
extern BYTE StagingBuffer[STAGING_BUFFER_SIZE];
extern BOOL BootAreaStaged;

void OpenProgressDialog(HWND owner);
BOOL CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
DWORD WINAPI UpdateWorker(LPVOID dialog);
BOOL OnEraseProgress(DWORD bytesDone, DWORD bytesTotal);
