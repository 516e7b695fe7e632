// What a module keeps in its folder, checked before a tool opens any of it.
// A module folder can come from anyone, so none of the module's own files
// and folders may be a symbolic link (leading into the folder, out of it, or
// nowhere), each must be what it stands for (a file a plain file, a folder a
// folder), and a stored configuration item must have a size the HAL could
// have stored. Every file is opened without following links as well
// (module/hw/folder_file.h); the check refuses a hostile folder before
// anything is read or written, with one line naming the file.
#pragma once
#include <filesystem>
#include <string>

namespace sim {

// True when dir holds nothing of the module's that breaks the rules above
// (a missing file or a missing dir is no fault here); else *error names the
// first file that does.
bool check_module_folder(const std::filesystem::path& dir, std::string* error);

}  // namespace sim
