#include "module/assembly/nor_profile.h"

#include <cstdio>
#include <iterator>

#include "module/assembly/limits_profile.h"

namespace sim {

namespace {

struct NorPartRow {
    uint16_t device_code;
    NorFamily family;
    uint32_t query_size;
};

// code     family            CFI 0x27
const NorPartRow kNorParts[] = {
    {0x0016, NorFamily::J3, 22},  {0x0017, NorFamily::J3, 23},  {0x0018, NorFamily::J3, 24},
    {0x001D, NorFamily::J3, 25},  {0x8801, NorFamily::K3, 23},  {0x8802, NorFamily::K3, 24},
    {0x8803, NorFamily::K3, 25},  {0x881A, NorFamily::P30, 23}, {0x881B, NorFamily::P30, 24},
    {0x891C, NorFamily::P30, 25},
};

struct NorFamilyRow {
    NorFamily family;
    const char* name;
    uint32_t parameter_blocks;
    uint32_t parameter_block_bytes;
    uint32_t main_block_bytes;
    uint32_t buffer_words;
    // Typical busy times.
    uint32_t word_program_us;
    uint32_t buffer_program_us;
    uint32_t block_erase_ms;
    uint32_t parameter_erase_ms;
    uint32_t clear_locks_ms;
    uint32_t set_lock_us;
    // Maximum busy times of programs and erases; lock operations take their typical time.
    uint32_t word_program_max_us;
    uint32_t buffer_program_max_us;
    uint32_t block_erase_max_ms;
    uint32_t parameter_erase_max_ms;
};

// P30 and K3 lock bits take effect at once; their program times are the
// query table's typical values, their program maxima twice those (the query
// table's factor 2^1). J3 and P30 maxima are the datasheets'; the K3's erase
// maximum is taken as the J3's.
// clang-format off
// family          name   param  param bytes  main bytes  buffer  word  buffer  erase  param  clear  lock  maxima: word buffer erase param
const NorFamilyRow kNorFamilies[] = {
    {NorFamily::J3,  "j3",  0, 32 * 1024, 128 * 1024, 16, 210, 218, 1000, 1000, 500, 64, 630, 654,  4000, 4000},
    {NorFamily::P30, "p30", 4, 32 * 1024, 128 * 1024, 32, 256, 512, 1200, 400,  0,   0,  512, 1024, 4000, 2500},
    {NorFamily::K3,  "k3",  0, 32 * 1024, 128 * 1024, 32, 256, 512, 1000, 1000, 0,   0,  512, 1024, 4000, 4000},
};
// clang-format on

constexpr uint32_t kMinQuerySize = 17;
constexpr uint32_t kMaxQuerySize = 26;  // 128 MiB on the pair

const char* const kTimeKeys[] = {"word_program_us",    "buffer_program_us", "block_erase_ms",
                                 "parameter_erase_ms", "clear_locks_ms",    "set_lock_us"};
const char* const kFaultKeys[] = {"never_ready", "erase_error", "program_error",
                                  "stuck_lock",  "silent_lock", "vpp_low"};

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

bool known_key(const std::string& key, const std::string& prefix, const char* const* names, size_t count) {
    std::string name = key.substr(prefix.size() + 1);
    for (size_t i = 0; i < count; ++i)
        if (name == names[i]) return true;
    return false;
}

// A mistyped fault or time key would quietly leave a scenario out.
bool check_keys(const Config& profile, std::string* error) {
    for (const std::string& key : profile.keys_with_prefix("nor.time")) {
        if (!known_key(key, "nor.time", kTimeKeys, std::size(kTimeKeys))) {
            if (error) *error = "module.toml: unknown key " + key;
            return false;
        }
    }
    for (const std::string& key : profile.keys_with_prefix("nor.fault")) {
        if (!known_key(key, "nor.fault", kFaultKeys, std::size(kFaultKeys))) {
            if (error) *error = "module.toml: unknown key " + key;
            return false;
        }
    }
    return true;
}

// Marks the blocks named by a list of device offsets with a fault bit.
bool mark_blocks(const Config& profile, const std::string& key, const NorPairConfig& pair, uint8_t bit,
                 std::vector<uint8_t>* faults, std::string* error) {
    for (uint32_t offset : profile.get_u32_list(key)) {
        if (offset >= pair.device_size()) {
            if (error) *error = "module.toml: " + key + ": " + hex(offset) + " is past the end of the flash";
            return false;
        }
        (*faults)[pair.block_at(offset)] |= bit;
    }
    return true;
}

}  // namespace

bool nor_config_from_profile(const Config& profile, NorPairConfig* config, std::string* error) {
    if (!check_keys(profile, error)) return false;
    NorChipConfig chip;
    chip.device_code = static_cast<uint16_t>(profile.get_u32("nor.device_code", 0x0018));
    chip.manufacturer = static_cast<uint16_t>(profile.get_u32("nor.manufacturer", 0x0089));

    // Family and size by device code; an unknown code is a J3 of the given size.
    const NorPartRow* part = nullptr;
    for (const NorPartRow& row : kNorParts)
        if (row.device_code == chip.device_code) part = &row;
    chip.family = part ? part->family : NorFamily::J3;
    if (profile.has("nor.family")) {
        std::string name = profile.get_string("nor.family", "");
        bool found = false;
        for (const NorFamilyRow& row : kNorFamilies)
            if (name == row.name) {
                chip.family = row.family;
                found = true;
            }
        if (!found) {
            if (error) *error = "module.toml: nor.family must be \"j3\", \"p30\" or \"k3\", not \"" + name + "\"";
            return false;
        }
    }
    if (!profile.has("nor.query_size") && !part) {
        if (error) *error = "module.toml: nor.query_size is needed for device code " + hex(chip.device_code);
        return false;
    }
    chip.query_size = profile.get_u32("nor.query_size", part ? part->query_size : 0);

    const NorFamilyRow* family = &kNorFamilies[0];
    for (const NorFamilyRow& row : kNorFamilies)
        if (row.family == chip.family) family = &row;
    chip.parameter_blocks = family->parameter_blocks;
    chip.parameter_block_bytes = family->parameter_block_bytes;
    chip.main_block_bytes = family->main_block_bytes;
    chip.buffer_words = family->buffer_words;
    uint32_t smallest = chip.parameter_blocks * chip.parameter_block_bytes + chip.main_block_bytes;
    if (chip.query_size < kMinQuerySize || chip.query_size > kMaxQuerySize || (1u << chip.query_size) < smallest) {
        if (error)
            *error = "module.toml: nor.query_size " + std::to_string(chip.query_size) + " is outside " +
                     std::to_string(kMinQuerySize) + ".." + std::to_string(kMaxQuerySize) +
                     " or too small for the chip's blocks";
        return false;
    }

    NorTimings& t = chip.timings;
    t.word_program_ns = profile.get_u64("nor.time.word_program_us", family->word_program_us) * 1000u;
    t.buffer_program_ns = profile.get_u64("nor.time.buffer_program_us", family->buffer_program_us) * 1000u;
    t.block_erase_ns = profile.get_u64("nor.time.block_erase_ms", family->block_erase_ms) * 1000000u;
    t.parameter_erase_ns = profile.get_u64("nor.time.parameter_erase_ms", family->parameter_erase_ms) * 1000000u;
    t.clear_locks_ns = profile.get_u64("nor.time.clear_locks_ms", family->clear_locks_ms) * 1000000u;
    t.set_lock_ns = profile.get_u64("nor.time.set_lock_us", family->set_lock_us) * 1000u;
    // A time the profile sets is the time every such operation takes.
    NorTimings& m = chip.max_timings;
    m = t;
    auto maximum = [&profile](const char* key, uint64_t max_ns, uint64_t* ns) {
        if (!profile.has(key)) *ns = max_ns;
    };
    maximum("nor.time.word_program_us", uint64_t{family->word_program_max_us} * 1000u, &m.word_program_ns);
    maximum("nor.time.buffer_program_us", uint64_t{family->buffer_program_max_us} * 1000u, &m.buffer_program_ns);
    maximum("nor.time.block_erase_ms", uint64_t{family->block_erase_max_ms} * 1000000u, &m.block_erase_ns);
    maximum("nor.time.parameter_erase_ms", uint64_t{family->parameter_erase_max_ms} * 1000000u, &m.parameter_erase_ns);
    if (!timing_from_profile(profile, &chip.timing, &chip.timing_seed, error)) return false;

    chip.never_ready = profile.get_bool("nor.fault.never_ready", false);
    chip.vpp_low = profile.get_bool("nor.fault.vpp_low", false);
    config->chips[0] = chip;
    chip.block_faults.assign(chip.block_count(), 0);
    if (!mark_blocks(profile, "nor.fault.erase_error", *config, kNorFaultEraseError, &chip.block_faults, error) ||
        !mark_blocks(profile, "nor.fault.program_error", *config, kNorFaultProgramError, &chip.block_faults, error) ||
        !mark_blocks(profile, "nor.fault.stuck_lock", *config, kNorFaultStuckLock, &chip.block_faults, error) ||
        !mark_blocks(profile, "nor.fault.silent_lock", *config, kNorFaultSilentLock, &chip.block_faults, error))
        return false;

    config->chips[0] = chip;
    config->chips[1] = chip;
    // A second maker code on the high chip stands for a mismatched pair.
    config->chips[1].manufacturer = static_cast<uint16_t>(profile.get_u32("nor.chip1.manufacturer", chip.manufacturer));

    config->initially_locked.clear();
    for (uint32_t offset : profile.get_u32_list("nor.locked")) {
        if (offset >= config->device_size()) {
            if (error) *error = "module.toml: nor.locked: " + hex(offset) + " is past the end of the flash";
            return false;
        }
        config->initially_locked.push_back(offset);
    }
    return true;
}

}  // namespace sim
