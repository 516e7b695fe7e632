// The default module: a PXA270 with NOR flash, created on first use.
#pragma once
#include <string>

// Finds (and creates, the first time) the default module directory.
bool ensure_default_module(std::string* dir, std::string* error);
