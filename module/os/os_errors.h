// Error codes the module's services report beyond those the platform
// headers name (the values of the Windows CE error table).
#pragma once
#include "platform/wintypes.h"

namespace sim::os {

constexpr DWORD kErrorPathNotFound = 3;
constexpr DWORD kErrorInvalidData = 13;
constexpr DWORD kErrorNotReady = 21;
constexpr DWORD kErrorWriteFault = 29;
constexpr DWORD kErrorSharingViolation = 32;
constexpr DWORD kErrorFileExists = 80;
constexpr DWORD kErrorInvalidName = 123;
constexpr DWORD kErrorNotOwner = 288;
constexpr DWORD kErrorInvalidFlags = 1004;
constexpr DWORD kErrorInvalidAddress = 487;

}  // namespace sim::os
