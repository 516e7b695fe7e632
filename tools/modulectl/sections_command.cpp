#include "tools/modulectl/sections_command.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "flash/flash_ops.h"
#include "module/module.h"
#include "update/section_map.h"

namespace fs = std::filesystem;

// Detection moves a configuration block found at its old place, so it runs
// on a copy of the module: the module itself is only read. The copy loses
// any power cut set up for the next run.
bool detect_sections(const std::string& dir, std::vector<DetectedSection>* sections, std::string* error) {
    static std::atomic<unsigned> copies{0};
    std::error_code ec;
    fs::path copy = fs::temp_directory_path() /
                    ("modulectl-sections-" + std::to_string(::getpid()) + "-" + std::to_string(copies++));
    fs::remove_all(copy, ec);
    fs::copy(dir, copy, fs::copy_options::recursive, ec);
    if (ec) {
        *error = "cannot copy the module: " + ec.message();
        return false;
    }
    sim::Config profile;
    std::string path = (copy / "module.toml").string();
    bool ok = profile.load(path, error);
    if (ok) {
        for (const char* key : sim::kCutKeys) profile.erase(key);
        ok = profile.save(path, error);
    }
    ok = ok && sim::Module::open(copy, error) != nullptr;
    if (ok && !SelectFlashBackend()) {
        *error = "no flash back-end could be initialised";
        ok = false;
    }
    if (ok) {
        DetectSectionMap();
        sections->clear();
        for (int i = 0; i < kSectionCount; ++i) {
            const FlashSection& s = SectionMap[i];
            std::u16string wide(reinterpret_cast<const char16_t*>(s.name));
            sections->push_back(DetectedSection{std::string(wide.begin(), wide.end()), s.start, s.length, s.used,
                                                s.flags,
                                                i == kSectionConfigBlock && s.start == CONFIG_BLOCK_OLD_PLACE});
        }
    }
    sim::Module::close_current();
    fs::remove_all(copy, ec);
    return ok;
}

bool print_section_map(const std::string& dir, bool json, std::string* error) {
    std::vector<DetectedSection> sections;
    if (!detect_sections(dir, &sections, error)) return false;
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    if (!json) std::printf("%-12s %-10s %-10s %-10s\n", "section", "start", "length", "used");
    for (const DetectedSection& s : sections) {
        if (json) {
            all.push_back({{"section", s.name},
                           {"start", s.start},
                           {"length", s.length},
                           {"used", s.used},
                           {"flags", s.flags},
                           {"old_place", s.old_place}});
            continue;
        }
        std::printf("%-12s 0x%08X 0x%08X 0x%08X%s\n", s.name.c_str(), s.start, s.length, s.used,
                    s.old_place ? "  (old place: an update moves it to 0x40000)" : "");
    }
    if (json) std::printf("%s\n", all.dump(2).c_str());
    return true;
}
