// The module's profile, module.toml, read with toml++ and held as typed
// values under dotted keys ("nor.device_code"; registry values keep their key
// path as one part: registry.'Drivers\BuiltIn\StrataFMD'.MemBase). Every key
// is checked against its rule (module/profile_keys.h) when the file is read
// and when a value is set from a command line; an error names the file, the
// line and the key. Saving a file that was read keeps its comments and
// layout where only values changed.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace sim {

class Config {
public:
    // Reads and checks module.toml.
    bool load(const std::string& path, std::string* error);
    // Reads and checks TOML text; source names it in errors.
    bool parse(const std::string& text, const std::string& source, std::string* error);
    // Checks every value against its rule and that the keys a module needs are there.
    bool check(const std::string& source, std::string* error) const;
    bool save(const std::string& path, std::string* error) const;
    std::string to_toml() const;
    // The text save writes: the file as read with the edits made in place,
    // or a new file.
    std::string file_text() const;

    bool has(const std::string& key) const;
    // KEY=VALUE as given on a command line, with the value written as in
    // module.toml (a string may also stand unquoted); nothing changes when
    // the key is unknown or the value breaks its rule.
    bool set_from_assignment(const std::string& assignment, std::string* error);
    // False (nothing removed) for a key module.toml cannot hold.
    bool erase(const std::string& key);

    uint32_t get_u32(const std::string& key, uint32_t fallback) const;
    uint64_t get_u64(const std::string& key, uint64_t fallback) const;
    bool get_bool(const std::string& key, bool fallback) const;
    std::string get_string(const std::string& key, const std::string& fallback) const;
    std::vector<uint32_t> get_u32_list(const std::string& key) const;
    bool is_string(const std::string& key) const;
    bool is_bool(const std::string& key) const;

    void set_u32(const std::string& key, uint32_t value, bool hex = false);
    void set_u64(const std::string& key, uint64_t value);
    void set_bool(const std::string& key, bool value);
    void set_string(const std::string& key, const std::string& value);
    void set_u32_list(const std::string& key, const std::vector<uint32_t>& values, bool hex = false);

    // Keys that start with prefix + "." (for example every value of one registry key).
    std::vector<std::string> keys_with_prefix(const std::string& prefix) const;

    using Value = std::variant<bool, int64_t, std::string, std::vector<int64_t>>;
    struct Entry {
        std::vector<std::string> path;  // the key's parts
        Value value;
        bool hex = false;  // integers written in hex
        int line = 0;      // where it was read, 0 when set here
    };

    // Every value by dotted key.
    const std::map<std::string, Entry>& entries() const { return entries_; }

private:
    void put(Entry entry);
    std::string edited_text() const;

    std::map<std::string, Entry> entries_;  // by dotted key
    // The file as read and its values there: saving edits the text in place.
    std::string text_;
    std::map<std::string, Entry> read_;
    std::map<std::string, std::pair<size_t, size_t>> read_spans_;  // each value's place in text_
    std::map<std::string, size_t> read_headers_;                   // after each table's [header] line
};

}  // namespace sim
