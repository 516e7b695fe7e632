// The processor's product number, which decides the kind of boot flash and
// the pin-function registers.
#pragma once
#include "platform/windows.h"

enum { kProductPxa320 = 2, kProductPxa300 = 8, kProductPxa27x = 17 };

DWORD ReadCpuProductId(void);
