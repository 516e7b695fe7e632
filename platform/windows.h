// The platform API as one include, like the SDK's <windows.h>.
#pragma once
#include "platform/wintypes.h"
#include "platform/winbase.h"
#include "platform/winreg.h"
#include "platform/winuser.h"
#include "platform/strsafe.h"
#include "platform/wcs.h"
