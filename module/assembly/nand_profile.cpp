#include "module/assembly/nand_profile.h"

#include <cstdio>

#include "module/assembly/limits_profile.h"

namespace sim {

// Spreads numbers counted across the chips onto each chip's own numbering.
template <class Numbers>
static bool spread(const std::vector<uint32_t>& numbers, uint32_t per_chip, const char* key,
                   std::vector<NandChipConfig>* chips, Numbers NandChipFaults::*field, std::string* error) {
    for (uint32_t n : numbers) {
        uint32_t chip = n / per_chip;
        if (chip >= chips->size()) {
            if (error)
                *error = std::string("module.toml: ") + key + ": " + std::to_string(n) + " is beyond the last of " +
                         std::to_string(per_chip * chips->size());
            return false;
        }
        ((*chips)[chip].faults.*field).insert(n % per_chip);
    }
    return true;
}

bool nand_config_from_profile(const Config& profile, NandBoardConfig* config, std::string* error) {
    uint32_t id = profile.get_u32("nand.id", 0);
    const NandPart* part = find_nand_part(id);
    if (!part) {
        char text[96];
        std::snprintf(text, sizeof text, "module.toml: nand.id 0x%04X is not a known NAND part", id);
        if (error) *error = text;
        return false;
    }
    config->part = part;
    config->chips.clear();
    TimingMode timing = TimingMode::Typical;
    uint64_t timing_seed = 0;
    if (!timing_from_profile(profile, &timing, &timing_seed, error)) return false;
    // A time the profile sets is the time every such operation takes.
    auto maximum = [&profile](const char* key, uint32_t max_ns) { return profile.has(key) ? 0 : max_ns; };
    for (unsigned n = 0; n < part->chip_count(); ++n) {
        NandChipConfig chip;
        chip.part = part;
        chip.index = n;
        chip.read_ns = profile.get_u32("nand.time.read_ns", part->read_ns);
        chip.program_ns = profile.get_u32("nand.time.program_ns", part->program_ns);
        chip.erase_ns = profile.get_u32("nand.time.erase_ns", part->erase_ns);
        chip.reset_ns = profile.get_u32("nand.time.reset_ns", kNandResetNs);
        chip.program_max_ns = maximum("nand.time.program_ns", part->program_max_ns);
        chip.erase_max_ns = maximum("nand.time.erase_ns", part->erase_max_ns);
        chip.timing = timing;
        chip.timing_seed = timing_seed;
        chip.corrupt_past_nop = profile.get_string("limits.nop", "corrupt") == "corrupt";
        chip.weak_bad_ppm = profile.get_u32("limits.weak_bad_blocks", 0);
        chip.limits_seed = static_cast<uint32_t>(timing_seed);
        chip.faults.never_ready = profile.get_bool("nand.fault.never_ready", false);
        chip.faults.hang_after = profile.get_u32("nand.fault.never_ready_after", 0);
        config->chips.push_back(chip);
    }
    config->bad_blocks = profile.get_u32_list("nand.bad_blocks");
    if (!spread(config->bad_blocks, part->blocks, "nand.bad_blocks", &config->chips, &NandChipFaults::bad_blocks,
                error))
        return false;
    if (!spread(profile.get_u32_list("nand.fault.bitflip"), part->pages(), "nand.fault.bitflip", &config->chips,
                &NandChipFaults::bitflip_pages, error))
        return false;
    if (!spread(profile.get_u32_list("nand.fault.uncorrectable"), part->pages(), "nand.fault.uncorrectable",
                &config->chips, &NandChipFaults::uncorrectable_pages, error))
        return false;
    // A page or block listed twice misses twice.
    if (!spread(profile.get_u32_list("nand.fault.missed_read"), part->pages(), "nand.fault.missed_read", &config->chips,
                &NandChipFaults::missed_reads, error) ||
        !spread(profile.get_u32_list("nand.fault.missed_program"), part->pages(), "nand.fault.missed_program",
                &config->chips, &NandChipFaults::missed_programs, error) ||
        !spread(profile.get_u32_list("nand.fault.missed_erase"), part->blocks, "nand.fault.missed_erase",
                &config->chips, &NandChipFaults::missed_erases, error))
        return false;
    config->os_builds_bbmt = profile.get_bool("nand.os_builds_bbmt", true);
    return true;
}

}  // namespace sim
