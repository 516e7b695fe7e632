// Restarting the module through the HAL.
#pragma once
#include "platform/windows.h"

// A cold restart first asks the HAL for a clean restart; a warm one does not.
// Returns only when the HAL does not restart.
void Reboot(BOOL cold);
