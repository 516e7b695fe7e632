// The plan an update carried out, from the flash chips' own operations: for
// the report and for a dry run's printout.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

#include "module/flash_plan.h"
#include "tools/updatetool/report.h"

// The recorded steps with their flash offsets (on NAND through the block map
// the module holds now) and the sections the program's section map puts there.
UpdatePlan make_plan(const sim::FlashPlanRecorder& recorder, const std::filesystem::path& module_dir);

// The plan and what came of it, as lines for a person.
std::vector<std::string> plan_lines(const RunReport& report);

// The image's range when it ends past the end of the module's flash, as
// "the image's range 0x00080000-0x0207ffff ends past the flash's end
// 0x02000000"; empty when it fits or the file's header cannot be read.
std::string image_beyond_flash(const std::filesystem::path& module_dir, const std::string& image);
