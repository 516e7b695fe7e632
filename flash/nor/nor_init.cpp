// Identification of the NOR pair, its size and block layout.
#include "board/phys_window.h"
#include "flash/nor/nor_commands.h"

volatile ULONG* NorWindow;
DWORD NorGeometryClass;

// Device code of the low chip -> geometry class. Only class 3 (bottom
// parameter blocks) changes the block layout; unknown codes are class 0.
typedef struct NOR_DEVICE_CLASS {
    WORD deviceCode;
    DWORD geometryClass;
} NOR_DEVICE_CLASS;

// clang-format off
static const NOR_DEVICE_CLASS kNorDeviceClasses[] = {
    // device code  class
    {0x0017, 1},
    {0x0018, 1},
    {0x0019, 1},
    {0x8801, 2},
    {0x8802, 2},
    {0x8803, 2},
    {0x881A, 3},
    {0x881B, 3},
    {0x891C, 3},
    {0x8922, 3},
};
// clang-format on

static DWORD NorClassOfDevice(DWORD deviceCode) {
    for (size_t i = 0; i < sizeof kNorDeviceClasses / sizeof kNorDeviceClasses[0]; i++) {
        if (kNorDeviceClasses[i].deviceCode == (deviceCode & 0xFFFF)) {
            return kNorDeviceClasses[i].geometryClass;
        }
    }
    return 0;
}

// Two chips of 2^n bytes each, at most 64 MB in all.
static DWORD NorDeviceSizeFromQuery(DWORD queryWord) {
    DWORD n = queryWord & 0xFF;
    if (n >= 25) {
        return kNorMaxDeviceSize;
    }
    return 2u << n;
}

DWORD NorBlockSize(DWORD offset) {
    if (NorGeometryClass == 3 && offset < kNorBootArea) {
        return kNorSmallBlockSize;
    }
    return kNorBlockSize;
}

BOOL NorInit(void) {
    // Identify through a small window; the device size is not known yet.
    volatile ULONG* registerWindow = MapRegisterWindow(0);
    if (registerWindow == NULL) {
        return FALSE;
    }
    NorWindow = registerWindow;

    NorCommand(0, kNorReadIdentifier);
    DWORD manufacturer = NorReadBus(kNorIdentifierManufacturer);
    DWORD deviceCode = NorReadBus(kNorIdentifierDevice);
    if (manufacturer != kNorManufacturerIntel) {
        NorCommand(0, kNorReadArray);
        UnmapWindow(registerWindow);
        NorWindow = NULL;
        return FALSE;
    }
    NorGeometryClass = NorClassOfDevice(deviceCode);

    NorCommand(0, kNorReadQuery);
    DWORD deviceSize = NorDeviceSizeFromQuery(NorReadBus(kNorQueryDeviceSize));

    // The whole device is mapped before the small window goes, so that a
    // failed mapping can still return the chips to read-array mode.
    volatile ULONG* deviceWindow = MapPhysicalRange(0, deviceSize);
    if (deviceWindow == NULL) {
        NorCommand(0, kNorReadArray);
        UnmapWindow(registerWindow);
        NorWindow = NULL;
        return FALSE;
    }
    UnmapWindow(registerWindow);
    NorWindow = deviceWindow;
    FlashDeviceSize = deviceSize;

    NorUnlockAll();

    NorCommand(0, kNorClearStatus);
    NorCommand(0, kNorReadArray);
    return TRUE;
}
