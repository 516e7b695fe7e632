// The keys module.toml may hold: each with its type, its range and what it
// means. A module whose profile breaks a rule does not open, and modulectl
// refuses to write one.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

enum class KeyType {
    Integer,
    Boolean,
    String,
    IntegerList,
    RegistryValue,  // an integer (REG_DWORD, REG_QWORD past 32 bits), a boolean or a string (REG_SZ)
};

struct KeyRule {
    const char* key;  // dotted; "hal.item#": any item number; "registry.*.*": any key path and value name
    KeyType type;
    uint64_t min, max;              // integers and list items
    uint32_t min_items, max_items;  // lists
    const char* choices;            // strings: "nor|nand"; nullptr: any text
    const char* needed_on;          // nullptr: optional; "*": every module; "nand": when flash.kind is nand
    const char* meaning;
};

const std::vector<KeyRule>& profile_key_rules();
// The rule for a key given as its parts; nullptr for an unknown key.
const KeyRule* find_key_rule(const std::vector<std::string>& path);
// "an integer in 17..26", "true or false", "\"nor\" or \"nand\"" ...
std::string describe_rule(const KeyRule& rule);
// "17..26", "0..0xFFFF": the range of a rule's integers.
std::string rule_range(const KeyRule& rule);

}  // namespace sim
