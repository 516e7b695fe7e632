#include "tools/modulectl/sections_command.h"

#include <cstdio>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "flash/flash_ops.h"
#include "module/hex_text.h"
#include "module/hw/nor/nor_storage.h"
#include "module/module.h"
#include "tools/common/scratch_copy.h"
#include "update/section_map.h"

namespace fs = std::filesystem;

namespace {

// The program's map before any detection. SectionMap is constant-initialised,
// so it holds its built-in places when this copy is taken.
const std::vector<FlashSection> kBuiltInMap(SectionMap, SectionMap + kSectionCount);

// Detection on the copy must not lose the power a cut set up for the next run.
bool disarm_power_cut(const fs::path& dir, std::string* error) {
    sim::Config profile;
    std::string path = (dir / "module.toml").string();
    if (!profile.load(path, error)) return false;
    for (const char* key : sim::kCutKeys) profile.erase(key);
    return profile.save(path, error);
}

}  // namespace

namespace {

// The detection on a scratch copy of dir, its NOR array copied or read from
// dir itself.
bool detect_on_copy(const std::string& dir, NorArray nor_array, std::vector<DetectedSection>* sections,
                    std::string* error) {
    fs::path scratch = make_scratch_dir("modulectl-sections", error);
    if (scratch.empty()) return false;
    ScratchCopy copy;
    bool ok = copy_module(dir, scratch, &copy, error, nor_array) && disarm_power_cut(scratch, error);
    sim::read_nor_array_from(nor_array == NorArray::LeftOut ? fs::path(dir) : fs::path());
    ok = ok && sim::Module::open(scratch, error) != nullptr;
    if (!ok && error) *error = in_original(*error, scratch, dir);
    if (ok && !SelectFlashBackend()) {
        *error = "no flash back-end could be initialised";
        ok = false;
    }
    if (ok) {
        DetectSectionMap();
        for (int i = 0; i < kSectionCount; ++i) {
            const FlashSection& s = SectionMap[i];
            std::u16string wide(reinterpret_cast<const char16_t*>(s.name));
            sections->push_back({std::string(wide.begin(), wide.end()), s.start, s.length, s.used, s.flags,
                                 i == kSectionConfigBlock && s.start == CONFIG_BLOCK_OLD_PLACE});
        }
    }
    sim::Module::close_current();
    std::error_code ec;
    fs::remove_all(scratch, ec);
    return ok;
}

}  // namespace

bool detect_sections(const std::string& dir, std::vector<DetectedSection>* sections, std::string* error) {
    // Most detections only read the flash: the NOR array is then read from
    // the module itself, mapped privately, and no copy of the whole array is
    // made. One that wrote the array (it moved a configuration block) saw
    // its own writes only through the chips, not through the program's
    // windows: it runs again on a whole copy.
    const bool looked = detect_on_copy(dir, NorArray::LeftOut, sections, error);
    const bool wrote = sim::nor_array_source_written();
    sim::read_nor_array_from({});
    if (!wrote) return looked;
    sections->clear();
    return detect_on_copy(dir, NorArray::Copied, sections, error);
}

std::vector<DetectedSection> plan_sections(const std::vector<DetectedSection>& detected) {
    std::vector<DetectedSection> planned = detected;
    for (size_t i = 0; i < planned.size() && i < kBuiltInMap.size(); ++i) {
        if (planned[i].length) continue;
        planned[i].start = kBuiltInMap[i].start;
        planned[i].length = kBuiltInMap[i].length;
    }
    return planned;
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
        std::printf("%-12s %s %s %s%s\n", s.name.c_str(), sim::hex(s.start).c_str(), sim::hex(s.length).c_str(),
                    sim::hex(s.used).c_str(), s.old_place ? "  (old place: an update moves it to 0x40000)" : "");
    }
    if (json) std::printf("%s\n", all.dump(2).c_str());
    return true;
}
