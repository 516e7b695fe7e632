// Pin tables of the PXA3xx processors: where each pin's multi-function pin
// register lies, and which function number makes a pin a GPIO.
#pragma once
#include "platform/windows.h"

#define GPIO_PIN_NUMBERS 140
#define GPIO_FUNCTION_EXCEPTION_COUNT 10

enum { kNoGpioFunction = 0xFF };  // the pin has no GPIO function

typedef struct GPIO_FUNCTION_EXCEPTION {
    DWORD processor;  // product number: 2 PXA320, 8 PXA300
    DWORD pin;
    DWORD function;
} GPIO_FUNCTION_EXCEPTION;

extern const WORD Pxa320PinFunctionIndex[GPIO_PIN_NUMBERS];
extern const WORD Pxa300PinFunctionOffset[GPIO_PIN_NUMBERS];
extern const GPIO_FUNCTION_EXCEPTION GpioFunctionExceptions[GPIO_FUNCTION_EXCEPTION_COUNT];
