// After an update that changed the boot region (Bootloader up to the
// configuration block), whether the module would still boot, by the check
// modulectl check makes: an update never passes for a success when it left
// the module without a bootloader.
#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "tools/updatetool/report.h"

// The end of the boot region in the module's flash: where the program's
// detection finds the configuration block (its magic at 0x40000, else at
// the old place 0x88000), 0x40000 without one.
uint64_t boot_region_end(const std::filesystem::path& module_dir);
// Whether the boot region starts erased (no bootloader to lose).
bool boot_region_erased(const std::filesystem::path& module_dir);

// Whether one of the plan's steps erased or programmed flash below end.
bool plan_touches(const UpdatePlan& plan, uint64_t end);

// The check of [0, end) against the image just written; empty with a reason
// in *error when the module or the image cannot be read.
std::optional<BootCheck> check_boot_region(const std::filesystem::path& module_dir, const std::string& image,
                                           uint64_t end, std::string* error);
