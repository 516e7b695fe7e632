#include "module/profile_keys.h"

#include <cstdio>

namespace sim {

namespace {

constexpr uint64_t kU16 = 0xFFFF;
constexpr uint64_t kU32 = 0xFFFFFFFF;
constexpr uint64_t kI64 = 0x7FFFFFFFFFFFFFFF;  // TOML integers are signed 64-bit
constexpr uint32_t kManyItems = 65536;
constexpr uint64_t kMaxCutUs = 1000000000000;  // 11.5 days of virtual time

using T = KeyType;

// clang-format off
// key                           type              min  max          items         choices       needed  meaning
const std::vector<KeyRule> kRules = {
    {"module.profile",            T::String,        0, 0,           0, 0,         nullptr,      nullptr, "the built-in profile it came from"},
    {"cpu.product",               T::Integer,       0, 63,          0, 0,         nullptr,      "*",     "product number in the main ID register: 17 PXA27x, 2 PXA320, 8 PXA300"},
    {"os.major",                  T::Integer,       0, kU32,        0, 0,         nullptr,      nullptr, "the running system's major version"},
    {"os.minor",                  T::Integer,       0, kU32,        0, 0,         nullptr,      nullptr, "the running system's minor version"},
    {"os.build",                  T::Integer,       0, kU32,        0, 0,         nullptr,      nullptr, "the running system's build number"},
    {"os.alloc_limit",            T::Integer,       0, kU32,        0, 0,         nullptr,      nullptr, "bytes the program may allocate"},
    {"flash.kind",                T::String,        0, 0,           0, 0,         "nor|nand",   "*",     "the kind of boot flash"},
    {"clock.start_ms",            T::Integer,       0, kU32,        0, 0,         nullptr,      nullptr, "GetTickCount at start"},
    {"bus.cycle_ns",              T::Integer,       1, 1000000,     0, 0,         nullptr,      nullptr, "virtual time per bus access"},
    {"hal.item#",                 T::IntegerList,   0, kU32,        1, 64,        nullptr,      nullptr, "configuration item N (0: the board item, 5: image place, registry start and half length)"},
    {"hal.clear_registry",        T::Boolean,       0, 0,           0, 0,         nullptr,      nullptr, "the HAL clears the registry"},
    {"hal.reboot_returns",        T::Boolean,       0, 0,           0, 0,         nullptr,      nullptr, "the HAL's reboot request returns"},
    {"hal.kernel_call",           T::Boolean,       0, 0,           0, 0,         nullptr,      nullptr, "the HAL makes kernel-mode calls"},
    {"image.version",             T::IntegerList,   0, kU32,        3, 3,         nullptr,      nullptr, "the running image's version record: board id, major, minor word"},
    {"fdf.created",               T::String,        0, 0,           0, 0,         nullptr,      nullptr, "creation time of \\windows\\default.fdf, \"YYYY-MM-DD HH:MM:SS\" UTC"},
    {"registry.flush_fails",      T::Boolean,       0, 0,           0, 0,         nullptr,      nullptr, "saving the registry fails"},
    {"registry.*.*",              T::RegistryValue, 0, kI64,        0, 0,         nullptr,      nullptr, "a registry value under HKEY_LOCAL_MACHINE"},
    {"nor.device_code",           T::Integer,       0, kU16,        0, 0,         nullptr,      nullptr, "the chips' device code"},
    {"nor.manufacturer",          T::Integer,       0, kU16,        0, 0,         nullptr,      nullptr, "manufacturer code of both chips"},
    {"nor.chip1.manufacturer",    T::Integer,       0, kU16,        0, 0,         nullptr,      nullptr, "manufacturer code of the high chip"},
    {"nor.query_size",            T::Integer,       17, 26,         0, 0,         nullptr,      nullptr, "n: each chip holds 2^n bytes"},
    {"nor.family",                T::String,        0, 0,           0, 0,         "j3|p30|k3",  nullptr, "the chips' family whatever the code"},
    {"nor.locked",                T::IntegerList,   0, kU32,        0, kManyItems, nullptr,     nullptr, "device offsets of blocks locked at creation"},
    {"nor.time.word_program_us",  T::Integer,       0, kU32,        0, 0,         nullptr,      nullptr, "word program busy time"},
    {"nor.time.buffer_program_us", T::Integer,      0, kU32,        0, 0,         nullptr,      nullptr, "buffered program busy time"},
    {"nor.time.block_erase_ms",   T::Integer,       0, kU32,        0, 0,         nullptr,      nullptr, "block erase time"},
    {"nor.time.parameter_erase_ms", T::Integer,     0, kU32,        0, 0,         nullptr,      nullptr, "parameter block erase time"},
    {"nor.time.clear_locks_ms",   T::Integer,       0, kU32,        0, 0,         nullptr,      nullptr, "J3 clear of all lock bits"},
    {"nor.time.set_lock_us",      T::Integer,       0, kU32,        0, 0,         nullptr,      nullptr, "lock bit change"},
    {"nor.fault.never_ready",     T::Boolean,       0, 0,           0, 0,         nullptr,      nullptr, "no operation ever finishes"},
    {"nor.fault.erase_error",     T::IntegerList,   0, kU32,        0, kManyItems, nullptr,     nullptr, "blocks whose erase fails"},
    {"nor.fault.program_error",   T::IntegerList,   0, kU32,        0, kManyItems, nullptr,     nullptr, "blocks whose programs fail"},
    {"nor.fault.stuck_lock",      T::IntegerList,   0, kU32,        0, kManyItems, nullptr,     nullptr, "blocks whose lock bits never clear"},
    {"nor.fault.silent_lock",     T::IntegerList,   0, kU32,        0, kManyItems, nullptr,     nullptr, "blocks whose lock bits never clear, without an error"},
    {"nor.fault.vpp_low",         T::Boolean,       0, 0,           0, 0,         nullptr,      nullptr, "every program and erase fails at once"},
    {"nor.wear.erase_limit",      T::Integer,       0, kU32,        0, 0,         nullptr,      nullptr, "erases a block takes before it wears out (0: never)"},
    {"nor.wear.fail_from_op",     T::Integer,       0, kU32,        0, 0,         nullptr,      nullptr, "each chip's Nth program or erase and all after it fail (0: none)"},
    {"nand.id",                   T::Integer,       0, kU16,        0, 0,         nullptr,      "nand",  "the NAND part, by read-ID code"},
    {"nand.bad_blocks",           T::IntegerList,   0, kU32,        0, kManyItems, nullptr,     nullptr, "blocks whose program and erase fail"},
    {"nand.fault.bitflip",        T::IntegerList,   0, kU32,        0, kManyItems, nullptr,     nullptr, "pages that read one flipped bit"},
    {"nand.fault.uncorrectable",  T::IntegerList,   0, kU32,        0, kManyItems, nullptr,     nullptr, "pages that read two flipped bits"},
    {"nand.fault.missed_read",    T::IntegerList,   0, kU32,        0, kManyItems, nullptr,     nullptr, "pages whose next read misses its start, once per listing"},
    {"nand.fault.missed_program", T::IntegerList,   0, kU32,        0, kManyItems, nullptr,     nullptr, "pages whose next program misses its start, once per listing"},
    {"nand.fault.missed_erase",   T::IntegerList,   0, kU32,        0, kManyItems, nullptr,     nullptr, "blocks whose next erase misses its start, once per listing"},
    {"nand.fault.never_ready",    T::Boolean,       0, 0,           0, 0,         nullptr,      nullptr, "the ready line never rises"},
    {"nand.fault.never_ready_after", T::Integer,    0, kU32,        0, 0,         nullptr,      nullptr, "each chip's Nth busy operation never ends"},
    {"nand.wear.erase_limit",     T::Integer,       0, kU32,        0, 0,         nullptr,      nullptr, "erases a block takes before it wears out (0: never)"},
    {"nand.wear.page_program_limit", T::Integer,    0, kU32,        0, 0,         nullptr,      nullptr, "programs a page takes before it fails (0: never)"},
    {"nand.wear.weak_pages",      T::IntegerList,   0, kU32,        0, kManyItems, nullptr,     nullptr, "the pages the program limit holds for (none: every page)"},
    {"nand.wear.fail_from_op",    T::Integer,       0, kU32,        0, 0,         nullptr,      nullptr, "each chip's Nth program or erase and all after it fail (0: none)"},
    {"nand.wear.bitflip_ppm",     T::Integer,       0, 1000000,     0, 0,         nullptr,      nullptr, "page reads in a million that read one flipped bit"},
    {"nand.wear.seed",            T::Integer,       0, kU32,        0, 0,         nullptr,      nullptr, "seed of the flipped bits"},
    {"nand.os_builds_bbmt",       T::Boolean,       0, 0,           0, 0,         nullptr,      nullptr, "the running system builds the block map"},
    {"nand.time.read_ns",         T::Integer,       0, kU32,        0, 0,         nullptr,      nullptr, "tR"},
    {"nand.time.program_ns",      T::Integer,       0, kU32,        0, 0,         nullptr,      nullptr, "tPROG"},
    {"nand.time.erase_ns",        T::Integer,       0, kU32,        0, 0,         nullptr,      nullptr, "tBERS"},
    {"nand.time.reset_ns",        T::Integer,       0, kU32,        0, 0,         nullptr,      nullptr, "tRST"},
    {"limits.timing",             T::String,        0, 0,           0, 0,         "typical|max|spread", nullptr, "busy times of programs and erases: the datasheet's typical, its maximum, or each drawn between"},
    {"limits.nop",                T::String,        0, 0,           0, 0,         "record|corrupt", nullptr, "a NAND page programmed past its partial-program limit: only recorded, or its bits become unreliable"},
    {"limits.weak_bad_blocks",    T::Integer,       0, 1000000,     0, 0,         nullptr,      nullptr, "programs and erases of a NAND bad block in a million that succeed"},
    {"limits.seed",               T::Integer,       0, kU32,        0, 0,         nullptr,      nullptr, "seed of the drawn busy times, unreliable bits and weak bad blocks"},
    {"power.cut_at_op",           T::Integer,       1, kU32,        0, 0,         nullptr,      nullptr, "the Nth program or erase of the next run loses its power part-way"},
    {"power.cut_at_time_us",      T::Integer,       0, kMaxCutUs,   0, 0,         nullptr,      nullptr, "the power goes at this virtual time of the next run"},
    {"power.cut_at",              T::String,        0, 0,           0, 0,         nullptr,      nullptr, "erase@ADDRESS or program@ADDRESS: the first such operation loses its power part-way"},
    {"power.seed",                T::Integer,       0, kU32,        0, 0,         nullptr,      nullptr, "seed of what a cut operation leaves"},
};
// clang-format on

std::string number_text(uint64_t n) {
    char text[32];
    // All ones (0xFFFF, 0xFFFFFFFF) reads best in hex.
    bool all_ones = n > 0xFF && (n & (n + 1)) == 0;
    std::snprintf(text, sizeof text, all_ones ? "0x%llX" : "%llu", static_cast<unsigned long long>(n));
    return text;
}

bool matches(const std::string& pattern, const std::vector<std::string>& path) {
    if (pattern == "registry.*.*") return path.size() >= 3 && path[0] == "registry";
    std::string key;
    for (const std::string& part : path) key += (key.empty() ? "" : ".") + part;
    if (pattern == "hal.item#") {
        const std::string prefix = "hal.item";
        if (key.compare(0, prefix.size(), prefix) != 0 || key.size() == prefix.size() || key.size() > prefix.size() + 9)
            return false;
        return key.find_first_not_of("0123456789", prefix.size()) == std::string::npos;
    }
    return key == pattern;
}

}  // namespace

const std::vector<KeyRule>& profile_key_rules() { return kRules; }

const KeyRule* find_key_rule(const std::vector<std::string>& path) {
    for (const KeyRule& rule : kRules)
        if (matches(rule.key, path)) return &rule;
    return nullptr;
}

std::string rule_range(const KeyRule& r) { return number_text(r.min) + ".." + number_text(r.max); }

std::string describe_rule(const KeyRule& r) {
    std::string range = rule_range(r);
    switch (r.type) {
        case KeyType::Integer: return "an integer in " + range;
        case KeyType::Boolean: return "true or false";
        case KeyType::RegistryValue: return "an integer in " + range + ", true, false or a string";
        case KeyType::IntegerList: {
            std::string count = r.min_items == r.max_items
                                    ? std::to_string(r.min_items)
                                    : std::to_string(r.min_items) + " to " + std::to_string(r.max_items);
            return "a list of " + count + " integers in " + range;
        }
        case KeyType::String: break;
    }
    if (!r.choices) return "a string";
    std::string text, choices = r.choices;
    for (size_t begin = 0; begin <= choices.size();) {
        size_t bar = choices.find('|', begin);
        if (bar == std::string::npos) bar = choices.size();
        if (!text.empty()) text += bar == choices.size() ? " or " : ", ";
        text.append(1, '"').append(choices, begin, bar - begin).append(1, '"');
        begin = bar + 1;
    }
    return text;
}

}  // namespace sim
