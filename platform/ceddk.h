// Single uncached 32-bit register accesses, issued in program order.
#pragma once
#include "platform/wintypes.h"

ULONG READ_REGISTER_ULONG(volatile ULONG* registerAddress);
void WRITE_REGISTER_ULONG(volatile ULONG* registerAddress, ULONG value);
