#include "tools/updatetool/boot_check.h"

#include <vector>

#include "module/flash_view.h"
#include "tools/modulectl/check_command.h"
#include "tools/modulectl/sections_command.h"
#include "update/section_map.h"

uint64_t boot_region_end(const std::filesystem::path& module_dir) {
    std::string error;
    std::unique_ptr<sim::FlashView> view = sim::FlashView::open(module_dir, &error);
    if (!view) return CONFIG_BLOCK_PLACE;
    for (uint32_t place : {CONFIG_BLOCK_PLACE, CONFIG_BLOCK_OLD_PLACE}) {
        uint8_t word[4];
        if (!view->read(place, sizeof word, word, &error)) continue;
        uint32_t value = word[0] | word[1] << 8 | word[2] << 16 | uint32_t{word[3]} << 24;
        if (value == CONFIG_BLOCK_MAGIC) return place;
    }
    return CONFIG_BLOCK_PLACE;
}

bool boot_region_erased(const std::filesystem::path& module_dir) {
    std::string error;
    std::unique_ptr<sim::FlashView> view = sim::FlashView::open(module_dir, &error);
    uint8_t word[4] = {0, 0, 0, 0};
    if (!view || !view->read(0, sizeof word, word, &error)) return false;
    return word[0] == 0xFF && word[1] == 0xFF && word[2] == 0xFF && word[3] == 0xFF;
}

bool plan_touches(const UpdatePlan& plan, uint64_t end) {
    for (const PlanStep& step : plan.steps)
        for (const PlanRange& range : step.flash)
            if (range.start < end) return true;
    return false;
}

std::optional<BootCheck> check_boot_region(const std::filesystem::path& module_dir, const std::string& image,
                                           uint64_t end, std::string* error) {
    // The region and where it ends, as the program's section map has them.
    std::vector<DetectedSection> sections = {
        {"Bootloader", 0, static_cast<uint32_t>(end), 0, 0, false},
        {"ConfigBlock", static_cast<uint32_t>(end), 0, 0, 0, end == CONFIG_BLOCK_OLD_PLACE},
    };
    CheckResult result;
    if (!check_module(module_dir.string(), image, &result, error, &sections)) return std::nullopt;
    return BootCheck{result.bootable, result.reason};
}
