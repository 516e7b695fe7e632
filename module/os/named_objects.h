// Objects the module's programs share by name: named mutexes (a lock file
// under DIR/objects, taken with flock, so a holder that dies releases it)
// and named file mappings (DIR/objects/<name>.map, persisting in the module
// directory like the running system's own copy).
#pragma once
#include <filesystem>
#include <string>

#include "platform/wintypes.h"

namespace sim {

// DIR/objects/<name><suffix> of the current module, the name made safe for
// a file name ('/', '\' and control characters become '_'). False when no
// module is open or the folder cannot be made.
bool named_object_path(const std::u16string& name, const char* suffix, std::filesystem::path* path);

// Takes the named mutex through the platform calls and keeps it for the
// rest of the process (modulectl's hold-flash: the running system's flash
// driver). Returns the wait result (WAIT_OBJECT_0 or WAIT_ABANDONED), or
// WAIT_FAILED with *error set; *handle (when asked) lets it go again.
// Opens a file named_object_path gave (flags as for open(2)), neither the
// objects folder nor the file followed when a link; -1 with errno (ELOOP
// for a link).
int open_named_object_file(const std::filesystem::path& path, int flags);

DWORD hold_named_mutex(const std::u16string& name, std::string* error, HANDLE* handle = nullptr);

}  // namespace sim
