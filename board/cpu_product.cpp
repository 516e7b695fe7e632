// The processor's product number from the XScale main ID register.
#include "board/cpu_product.h"

#include "board/phys_window.h"
#include "platform/armintr.h"

// Runs in kernel mode on systems from 6.0 on, where user mode may not read
// coprocessor 15.
static DWORD ReadMainIdRegister(DWORD first, DWORD second) {
    (void)first;
    (void)second;
    return _MoveFromCoprocessor(15, 0, 0, 0, 0);
}

DWORD ReadCpuProductId(void) {
    DWORD mainId;
    if (OsMajorVersionBelow6()) {
        mainId = _MoveFromCoprocessor(15, 0, 0, 0, 0);
    } else {
        // A refused kernel call reads as 0, which selects NAND.
        TRAMPOLINE_RECORD record = {ReadMainIdRegister, 0, 0};
        mainId = KernelCall((void*)KernelTrampoline, (ULONG_PTR)&record);
    }
    return (mainId >> 4) & 0x3F;
}
