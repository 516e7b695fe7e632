// Common controls: the progress bar.
#pragma once
#include "platform/wintypes.h"

#define PROGRESS_CLASSW u"msctls_progress32"
#define PBM_SETRANGE 0x0401
#define PBM_SETPOS 0x0402
#define PBM_DELTAPOS 0x0403
#define PBM_SETSTEP 0x0404
#define PBM_STEPIT 0x0405
#define PBM_SETRANGE32 0x0406
#define PBM_GETRANGE 0x0407
#define PBM_GETPOS 0x0408

void InitCommonControls(void);
