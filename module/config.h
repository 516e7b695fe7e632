// The module's profile as a flat store of dotted keys ("nor.device_code"),
// read from and written to module.toml. module.toml uses a small subset of
// TOML: [section] headers (quoted parts allowed: [registry.'Drivers\BuiltIn\X']),
// key = value lines, # comments; values are integers (decimal or 0x hex),
// booleans, "strings" / 'literal strings', and [arrays, of, integers].
// Values are kept as their text; the typed getters parse on demand.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sim {

class Config {
public:
    bool parse(const std::string& text, std::string* error);
    bool load(const std::string& path, std::string* error);
    bool save(const std::string& path, std::string* error) const;
    std::string to_toml() const;

    bool has(const std::string& key) const { return values_.count(key) != 0; }
    // Raw value text as written in the file (strings keep their quotes).
    std::optional<std::string> raw(const std::string& key) const;
    void set_raw(const std::string& key, const std::string& value_text) { values_[key] = value_text; }
    // key=value as given on a command line: the value is typed by its look
    // (a number, true/false, [array], or else a string).
    bool set_from_assignment(const std::string& assignment, std::string* error);
    void erase(const std::string& key) { values_.erase(key); }

    uint32_t get_u32(const std::string& key, uint32_t fallback) const;
    uint64_t get_u64(const std::string& key, uint64_t fallback) const;
    bool get_bool(const std::string& key, bool fallback) const;
    std::string get_string(const std::string& key, const std::string& fallback) const;
    std::vector<uint32_t> get_u32_list(const std::string& key) const;

    void set_u32(const std::string& key, uint32_t value, bool hex = false);
    void set_u64(const std::string& key, uint64_t value);
    void set_bool(const std::string& key, bool value);
    void set_string(const std::string& key, const std::string& value);
    void set_u32_list(const std::string& key, const std::vector<uint32_t>& values, bool hex = false);

    // Keys that start with prefix + "." (for example every value of one registry key).
    std::vector<std::string> keys_with_prefix(const std::string& prefix) const;
    const std::map<std::string, std::string>& all() const { return values_; }

private:
    std::map<std::string, std::string> values_;
};

// Parses an unsigned number in decimal or 0x hex; false when the text is not one.
bool parse_number(const std::string& text, uint64_t* value);

}  // namespace sim
