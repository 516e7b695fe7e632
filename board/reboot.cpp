#include "board/reboot.h"

#include "board/hal_ioctl.h"

void Reboot(BOOL cold) {
    if (cold) {
        // The clean-reboot request goes just before the cold restart.
        SetCleanRebootFlag();
        DWORD coldBootArgument = 0;
        KernelIoControl(IOCTL_HAL_REBOOT, &coldBootArgument, sizeof coldBootArgument, NULL, 0, NULL);
    } else {
        KernelIoControl(IOCTL_HAL_REBOOT, NULL, 0, NULL, 0, NULL);
    }
}
