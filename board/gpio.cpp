// GPIO and multi-function pin control. The windows are mapped on first use
// and released by GpioRelease; the pin settings stay in the hardware.
#include "board/gpio.h"

#include <string.h>

#include "board/cpu_product.h"
#include "board/gpio_pin_tables.h"
#include "board/phys_window.h"
#include "platform/ceddk.h"

BOOL GpioInitialised;
volatile ULONG* GpioWindow;
volatile ULONG* PinFunctionWindow;
DWORD GpioProcessorKind;
WORD PinFunctionIndex[GPIO_PIN_NUMBERS];

// GPIO block register offsets: banks 0 to 2 lie 4 bytes apart, bank 3 lies
// 0x100 beyond bank 0 in GPDR, GPSR and GPCR.
enum {
    GPDR = 0x0C,
    GPSR = 0x18,
    GPCR = 0x24,
    GAFR = 0x54,
    GSDR = 0x400,
    GCDR = 0x420,
};

static BOOL Pxa3xx(void) { return GpioProcessorKind == kProductPxa320 || GpioProcessorKind == kProductPxa300; }

// Pin numbers the processor has: 0..127 on a PXA27x, 0..138 on a PXA300,
// 0..139 on a PXA320.
static DWORD PinLimit(void) {
    if (GpioProcessorKind == kProductPxa320) {
        return 140;
    }
    return GpioProcessorKind == kProductPxa300 ? 139 : 128;
}

static DWORD GpioNumber(DWORD pin) { return pin >= 128 ? pin - 128 : pin; }

static volatile ULONG* SplitBankRegister(DWORD bank0Offset, DWORD gpio) {
    DWORD bank = gpio / 32;
    DWORD offset = bank < 3 ? bank0Offset + 4 * bank : bank0Offset + 0x100;
    return GpioWindow + offset / 4;
}

static volatile ULONG* ContiguousBankRegister(DWORD bank0Offset, DWORD gpio) {
    return GpioWindow + (bank0Offset + 4 * (gpio / 32)) / 4;
}

static DWORD GpioFunctionOf(DWORD gpio) {
    for (DWORD i = 0; i < GPIO_FUNCTION_EXCEPTION_COUNT; i++) {
        if (GpioFunctionExceptions[i].processor == GpioProcessorKind && GpioFunctionExceptions[i].pin == gpio) {
            return GpioFunctionExceptions[i].function;
        }
    }
    return 0;
}

void GpioInit(void) {
    if (GpioInitialised) {
        return;
    }
    GpioProcessorKind = ReadCpuProductId();
    GpioWindow = MapRegisterWindow(GPIO_PHYSICAL);
    PinFunctionWindow = NULL;
    if (GpioProcessorKind == kProductPxa320) {
        PinFunctionWindow = MapRegisterWindow(MFPR_GPIO0_PXA320);
        memcpy(PinFunctionIndex, Pxa320PinFunctionIndex, sizeof(PinFunctionIndex));
    } else if (GpioProcessorKind == kProductPxa300) {
        PinFunctionWindow = MapRegisterWindow(MFPR_GPIO0_PXA300);
        // Entry 139 names no PXA300 pin and is left as it is.
        for (DWORD pin = 0; pin < 139; pin++) {
            PinFunctionIndex[pin] = (WORD)((Pxa300PinFunctionOffset[pin] - Pxa300PinFunctionOffset[0]) / 4);
        }
    }
    GpioInitialised = TRUE;
}

void GpioRelease(void) {
    if (!GpioInitialised) {
        return;
    }
    if (GpioWindow != NULL) {
        UnmapWindow(GpioWindow);
    }
    if (PinFunctionWindow != NULL) {
        UnmapWindow(PinFunctionWindow);
    }
    GpioWindow = NULL;
    PinFunctionWindow = NULL;
    GpioInitialised = FALSE;
}

BOOL GpioSetDirection(DWORD pin, BOOL output) {
    GpioInit();
    if (GpioWindow == NULL || pin >= PinLimit()) {
        return FALSE;
    }
    if (Pxa3xx()) {
        // GSDR and GCDR act on the bits written as 1; writing back what a read
        // returned could turn other pins round, so only this pin's bit goes.
        DWORD gpio = GpioNumber(pin);
        volatile ULONG* reg = ContiguousBankRegister(output ? GSDR : GCDR, gpio);
        WRITE_REGISTER_ULONG(reg, 1u << (gpio % 32));
    } else {
        volatile ULONG* reg = SplitBankRegister(GPDR, pin);
        DWORD value = READ_REGISTER_ULONG(reg);
        DWORD bit = 1u << (pin % 32);
        WRITE_REGISTER_ULONG(reg, output ? value | bit : value & ~bit);
    }
    return TRUE;
}

BOOL GpioSetLevel(DWORD pin, BOOL high) {
    GpioInit();
    if (GpioWindow == NULL || pin >= GPIO_PIN_NUMBERS) {
        return FALSE;
    }
    DWORD gpio = GpioNumber(pin);
    WRITE_REGISTER_ULONG(SplitBankRegister(high ? GPSR : GPCR, gpio), 1u << (gpio % 32));
    return TRUE;
}

void GpioSetFunction(DWORD pin, DWORD function, BOOL output) {
    GpioInit();
    if (pin >= PinLimit()) {
        return;
    }
    if (!Pxa3xx()) {
        if (GpioWindow == NULL) {
            return;
        }
        volatile ULONG* reg = GpioWindow + (GAFR + 4 * (pin / 16)) / 4;
        DWORD shift = 2 * (pin % 16);
        DWORD value = READ_REGISTER_ULONG(reg);
        WRITE_REGISTER_ULONG(reg, (value & ~(3u << shift)) | (function & 3) << shift);
        GpioSetDirection(pin, output);
        return;
    }
    if (PinFunctionWindow == NULL) {
        return;
    }
    volatile ULONG* reg = PinFunctionWindow + PinFunctionIndex[pin];
    WRITE_REGISTER_ULONG(reg, (READ_REGISTER_ULONG(reg) & ~7u) | (function & 7));
    if (function == GpioFunctionOf(GpioNumber(pin))) {
        GpioSetDirection(pin, output);
    }
}

void DrivePinHigh(DWORD pin) {
    GpioInit();
    GpioSetFunction(pin, 0, TRUE);
    GpioSetLevel(pin, TRUE);
    GpioRelease();
}
