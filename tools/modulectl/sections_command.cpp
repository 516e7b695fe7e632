#include "tools/modulectl/sections_command.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "flash/flash_ops.h"
#include "module/module.h"
#include "update/section_map.h"

namespace fs = std::filesystem;

// Detection moves a configuration block found at its old place, so it runs
// on a copy of the module: the module itself is only read.
bool print_section_map(const std::string& dir, std::string* error) {
    std::error_code ec;
    fs::path copy = fs::temp_directory_path() / ("modulectl-sections-" + std::to_string(::getpid()));
    fs::remove_all(copy, ec);
    fs::copy(dir, copy, fs::copy_options::recursive, ec);
    if (ec) {
        *error = "cannot copy the module: " + ec.message();
        return false;
    }
    bool ok = sim::Module::open(copy, error) != nullptr;
    if (ok && !SelectFlashBackend()) {
        *error = "no flash back-end could be initialised";
        ok = false;
    }
    if (ok) {
        DetectSectionMap();
        std::printf("%-12s %-10s %-10s %-10s\n", "section", "start", "length", "used");
        for (int i = 0; i < kSectionCount; ++i) {
            const FlashSection& s = SectionMap[i];
            std::u16string name(reinterpret_cast<const char16_t*>(s.name));
            std::printf("%-12s 0x%08X 0x%08X 0x%08X%s\n", std::string(name.begin(), name.end()).c_str(), s.start,
                        s.length, s.used,
                        i == kSectionConfigBlock && s.start == CONFIG_BLOCK_OLD_PLACE
                            ? "  (old place: an update moves it to 0x40000)"
                            : "");
        }
    }
    sim::Module::close_current();
    fs::remove_all(copy, ec);
    return ok;
}
