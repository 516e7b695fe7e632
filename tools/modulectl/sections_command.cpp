#include "tools/modulectl/sections_command.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "flash/flash_ops.h"
#include "module/module.h"
#include "update/section_map.h"

namespace fs = std::filesystem;

// Detection moves a configuration block found at its old place, so it runs
// on a copy of the module: the module itself is only read.
bool print_section_map(const std::string& dir, bool json, std::string* error) {
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
        nlohmann::ordered_json all = nlohmann::ordered_json::array();
        if (!json) std::printf("%-12s %-10s %-10s %-10s\n", "section", "start", "length", "used");
        for (int i = 0; i < kSectionCount; ++i) {
            const FlashSection& s = SectionMap[i];
            std::u16string wide(reinterpret_cast<const char16_t*>(s.name));
            std::string name(wide.begin(), wide.end());
            bool old_place = i == kSectionConfigBlock && s.start == CONFIG_BLOCK_OLD_PLACE;
            if (json) {
                all.push_back({{"section", name},
                               {"start", s.start},
                               {"length", s.length},
                               {"used", s.used},
                               {"flags", s.flags},
                               {"old_place", old_place}});
                continue;
            }
            std::printf("%-12s 0x%08X 0x%08X 0x%08X%s\n", name.c_str(), s.start, s.length, s.used,
                        old_place ? "  (old place: an update moves it to 0x40000)" : "");
        }
        if (json) std::printf("%s\n", all.dump(2).c_str());
    }
    sim::Module::close_current();
    fs::remove_all(copy, ec);
    return ok;
}
