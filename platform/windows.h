// The platform API as one include, like the SDK's <windows.h>.
#pragma once
#include "platform/strsafe.h"
#include "platform/wcs.h"
#include "platform/winbase.h"
#include "platform/winreg.h"
#include "platform/wintypes.h"
#include "platform/winuser.h"
