// Paths as the system names files. A path that starts with a backslash is a
// WinCE path under the module's file-system root, each component matched
// case-insensitively as the WinCE file system matches names; anything else
// is a host path (UTF-8, relative to the working directory).
#pragma once
#include <filesystem>
#include <string>

#include "platform/wintypes.h"

namespace sim::os {

bool is_wince_path(const std::u16string& path);

// Resolves a WinCE path under root. Every directory component must exist;
// the last component must exist too unless last_may_be_missing, in which
// case a missing name is used as given. A component that is a symbolic link
// is refused (ERROR_ACCESS_DENIED, with a line on stderr naming it). On
// failure sets *error to a platform error code.
bool resolve_wince_path(const std::filesystem::path& root, const std::u16string& path, bool last_may_be_missing,
                        std::filesystem::path* out, DWORD* error);

// True when two names are equal under the WinCE file system's case folding.
bool names_equal_ignoring_case(const std::string& left, const std::string& right);

}  // namespace sim::os
