// Image start addresses as the image was linked, turned into flash offsets.
#include "board/hal_ioctl.h"
#include "update/image_file.h"

// Where the board places an image linked for cached or uncached RAM: word 0
// of configuration item 5, asked afresh for every image.
static DWORD BoardImagePlace(void) {
    DWORD item[6] = {0, 0, 0, 0, 0, 0};
    DWORD bytesReturned = 0;
    CONFIG_ITEM_REQUEST request = {kConfigItemFlashLayout, item, sizeof item};
    if (!KernelIoControl(IOCTL_HAL_GET_CONFIG_ITEM, &request, sizeof request, item, sizeof item, &bytesReturned) ||
        bytesReturned == 0)
        return DEFAULT_IMAGE_PLACE;
    return item[0];
}

DWORD ComputeAddressBias(DWORD imageStart) {
    // The top of the uncached flash window maps to flash offset 0.
    if (imageStart >= 0xBCA00000u && imageStart <= 0xBFFFFFFEu) return 0u - imageStart;
    // Images linked for RAM land where the board says.
    if ((imageStart >= 0xA0000000u && imageStart < 0xBCA00000u) ||
        (imageStart >= 0x80000000u && imageStart < 0x9CA00000u))
        return BoardImagePlace() - imageStart;
    // Everything else already holds flash offsets.
    return 0;
}
