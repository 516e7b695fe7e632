#include "tools/updatetool/default_module.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "module/module.h"
#include "module/profiles.h"
#include "tools/common/module_create.h"

static std::string default_module_dir() {
    if (const char* env = std::getenv("UPDATETOOL_MODULE"); env && *env) return env;
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::filesystem::path(home) / ".local" / "share";
    else
        base = std::filesystem::temp_directory_path();
    return (base / "updatetool" / "default-module").string();
}

bool ensure_default_module(std::string* dir, std::string* error) {
    *dir = default_module_dir();
    if (std::filesystem::exists(std::filesystem::path(*dir) / "module.toml")) return true;
    sim::Config profile;
    sim::builtin_profile("pxa270", &profile);
    if (!create_module_whole(*dir, profile, false, error)) return false;
    std::fprintf(stderr, "updatetool: created the default module (PXA270, 32 MiB NOR) in %s\n", dir->c_str());
    return true;
}
