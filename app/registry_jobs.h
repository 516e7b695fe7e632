// Saving and clearing the registry in flash.
#pragma once
#include "platform/windows.h"

void SaveRegistry(HWND owner);
void ClearRegistry(HWND owner);
