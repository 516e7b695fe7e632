// A new module directory made whole or not at all: the module is created in
// a folder beside DIR and renamed to DIR only when every file of it was
// written, so a full disk leaves no half-made module behind (and a module it
// replaces as it was).
#pragma once
#include <filesystem>
#include <string>

#include "module/config.h"

// DIR must be new, an empty folder, or (with replace) hold a module. False
// with a reason naming DIR.
bool create_module_whole(const std::filesystem::path& dir, const sim::Config& profile, bool replace,
                         std::string* error);
