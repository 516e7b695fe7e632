// Single processor pins from user mode: function, direction and level, on the
// PXA27x (GAFR in the GPIO block) and the PXA300 and PXA320 (one MFPR per
// pin). Pin numbers 128 and up name the second pins of GPIO 0..11 on the
// PXA3xx processors.
#pragma once
#include "platform/windows.h"

#define GPIO_PHYSICAL 0x40E00000
#define MFPR_GPIO0_PXA320 0x40E10124
#define MFPR_GPIO0_PXA300 0x40E100B4

extern BOOL GpioInitialised;
extern volatile ULONG* GpioWindow;
extern volatile ULONG* PinFunctionWindow;
extern DWORD GpioProcessorKind;
extern WORD PinFunctionIndex[140];

void GpioInit(void);
void GpioRelease(void);
// Both answer 1 when the pin was set, 0 for a pin the processor does not have
// or a GPIO block that could not be mapped.
BOOL GpioSetDirection(DWORD pin, BOOL output);
BOOL GpioSetLevel(DWORD pin, BOOL high);
void GpioSetFunction(DWORD pin, DWORD function, BOOL output);
void DrivePinHigh(DWORD pin);
