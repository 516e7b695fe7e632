// Saving and clearing the registry in flash, and restarting the module.
#pragma once
#include "platform/windows.h"

void SaveRegistry(HWND owner);
void ClearRegistry(HWND owner);
void Reboot(BOOL cold);
