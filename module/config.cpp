#include "module/config.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <variant>

#include "module/hw/folder_file.h"
#include "module/profile_keys.h"
#include "module/profile_text.h"

namespace sim {

namespace {

using Entry = Config::Entry;
using profile_text::join;
using profile_text::split_key;
using profile_text::value_text;

bool in_range(const KeyRule& r, int64_t n) {
    return n >= 0 && static_cast<uint64_t>(n) >= r.min && static_cast<uint64_t>(n) <= r.max;
}

bool is_control(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

// A value as an error shows it: as module.toml writes it, but always on one
// line (a string with a line break would be written over several).
std::string shown(const Entry& e) {
    const auto* s = std::get_if<std::string>(&e.value);
    if (!s || std::none_of(s->begin(), s->end(), is_control)) return value_text(e);
    std::string text = "\"";
    for (char c : *s) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned char>(c));
        text += is_control(c) ? escape : c == '"' || c == '\\' ? std::string{'\\', c} : std::string{c};
    }
    return text + "\"";
}

// Empty when the value keeps its key's rule; else why not.
std::string problem(const KeyRule& r, const std::string& key, const Entry& e) {
    std::string must = key + " must be " + describe_rule(r) + ", not " + shown(e);
    const auto* n = std::get_if<int64_t>(&e.value);
    const auto* s = std::get_if<std::string>(&e.value);
    const auto* list = std::get_if<std::vector<int64_t>>(&e.value);
    switch (r.type) {
        case KeyType::Integer:
            if (!n) return must;
            return in_range(r, *n) ? "" : key + " " + value_text(e) + " is outside " + rule_range(r);
        case KeyType::Boolean: return std::holds_alternative<bool>(e.value) ? "" : must;
        case KeyType::String:
            if (!s) return must;
            if (r.choices && ("|" + std::string(r.choices) + "|").find("|" + *s + "|") == std::string::npos)
                return must;
            return "";
        case KeyType::IntegerList:
            if (!list || list->size() < r.min_items || list->size() > r.max_items) return must;
            for (int64_t item : *list)
                if (!in_range(r, item)) return must;
            return "";
        case KeyType::RegistryValue:
            if (list) return must;
            return !n || in_range(r, *n) ? "" : key + " " + value_text(e) + " is outside " + rule_range(r);
    }
    return must;
}

// Registry key paths and value names never hold control characters, and a
// key written back with a line break in it would not read again.
bool holds_control_character(const std::vector<std::string>& path) {
    for (const std::string& part : path)
        if (std::any_of(part.begin(), part.end(), is_control)) return true;
    return false;
}

constexpr const char* kControlCharacter = "a key holds a control character";

std::string where(const std::string& source, int line) {
    return line > 0 ? source + ":" + std::to_string(line) + ": " : source + ": ";
}

}  // namespace

bool Config::parse(const std::string& text, const std::string& source, std::string* error) {
    profile_text::ReadText read;
    std::string why;
    if (!profile_text::read(text, source, &read, &why)) {
        if (error) *error = why;
        return false;
    }
    entries_ = read.entries;
    read_ = std::move(read.entries);
    read_spans_ = std::move(read.spans);
    read_headers_ = std::move(read.headers);
    text_ = text;
    return check(source, error);
}

bool Config::check(const std::string& source, std::string* error) const {
    std::string kind = get_string("flash.kind", "");
    for (const KeyRule& rule : profile_key_rules()) {
        bool needed = rule.needed_on && (std::string(rule.needed_on) == "*" || rule.needed_on == kind);
        if (needed && !has(rule.key)) {
            if (error) *error = where(source, 0) + rule.key + " is missing (" + rule.meaning + ")";
            return false;
        }
    }
    for (const auto& [key, e] : entries_) {
        const KeyRule* rule = find_key_rule(e.path);
        std::string why = holds_control_character(e.path) ? kControlCharacter
                          : rule                          ? problem(*rule, key, e)
                                                          : "unknown key " + key;
        if (!why.empty()) {
            if (error) *error = where(source, e.line) + why;
            return false;
        }
    }
    return true;
}

bool Config::load(const std::string& path, std::string* error) {
    // Read as it stands in its folder: a link is refused, not followed.
    std::filesystem::path file(path);
    std::string text;
    switch (read_folder_file(file.parent_path(), file.filename(), &text, error)) {
        case FolderRead::Missing:
            if (error) *error = "cannot read " + path;
            return false;
        case FolderRead::Refused: return false;
        case FolderRead::Done: break;
    }
    // The last file read and what it gave: a module opened again and again
    // (a power cycle, each run of a sweep) parses its profile once.
    static std::mutex last_mutex;
    static std::string last_path, last_text;
    static Config last_config;
    {
        std::lock_guard<std::mutex> lock(last_mutex);
        if (!last_path.empty() && path == last_path && text == last_text) {
            *this = last_config;
            return true;
        }
    }
    if (!parse(text, path, error)) return false;
    std::lock_guard<std::mutex> lock(last_mutex);
    last_path = path;
    last_text = std::move(text);
    last_config = *this;
    return true;
}

std::string Config::file_text() const {
    std::string text = text_.empty() ? "" : edited_text();
    return text.empty() ? "# updatetool simulated module profile\n" + to_toml() : text;
}

bool Config::save(const std::string& path, std::string* error) const {
    std::string text = file_text();
    std::filesystem::path file(path);
    return replace_folder_file(file.parent_path(), file.filename(), text, error);
}

std::string Config::to_toml() const { return profile_text::file_text(entries_); }

std::string Config::edited_text() const {
    return profile_text::edited(text_, {read_, read_spans_, read_headers_}, entries_);
}

bool Config::has(const std::string& key) const { return entries_.count(key) != 0; }

bool Config::set_from_assignment(const std::string& assignment, std::string* error) {
    size_t eq = assignment.find('=');
    Entry e;
    if (eq == std::string::npos || !split_key(assignment.substr(0, eq), &e.path)) {
        if (error) *error = "expected KEY=VALUE, not '" + assignment + "'";
        return false;
    }
    if (holds_control_character(e.path)) {
        if (error) *error = kControlCharacter;
        return false;
    }
    std::string key = join(e.path);
    const KeyRule* rule = find_key_rule(e.path);
    if (!rule) {
        if (error) *error = assignment + ": unknown key " + key;
        return false;
    }
    // The value as module.toml would hold it; a string may stand unquoted.
    std::string text = assignment.substr(eq + 1);
    bool read = false;
    read = profile_text::read_value(text, &e);
    if (!read || (rule->type == KeyType::String && !std::holds_alternative<std::string>(e.value)) ||
        (rule->type == KeyType::RegistryValue && std::holds_alternative<std::vector<int64_t>>(e.value))) {
        if (rule->type == KeyType::String || rule->type == KeyType::RegistryValue) {
            e.value = text;
            e.hex = false;
        } else if (!read) {
            if (error) *error = assignment + ": " + key + " must be " + describe_rule(*rule) + ", not " + text;
            return false;
        }
    }
    if (std::string why = problem(*rule, key, e); !why.empty()) {
        if (error) *error = assignment + ": " + why;
        return false;
    }
    put(std::move(e));
    return true;
}

bool Config::erase(const std::string& key) {
    std::vector<std::string> path;
    if (!split_key(key, &path) || !find_key_rule(path)) return false;
    entries_.erase(join(path));
    return true;
}

void Config::put(Entry entry) {
    std::string key = join(entry.path);
    entries_[key] = std::move(entry);
}

namespace {

template <typename V>
const V* find(const std::map<std::string, Entry>& entries, const std::string& key) {
    auto it = entries.find(key);
    return it == entries.end() ? nullptr : std::get_if<V>(&it->second.value);
}

Entry make(const std::string& key, Config::Value value, bool hex = false) {
    Entry e;
    split_key(key, &e.path);
    e.value = std::move(value);
    e.hex = hex;
    return e;
}

}  // namespace

uint32_t Config::get_u32(const std::string& key, uint32_t fallback) const {
    return static_cast<uint32_t>(get_u64(key, fallback));
}

uint64_t Config::get_u64(const std::string& key, uint64_t fallback) const {
    const int64_t* n = find<int64_t>(entries_, key);
    return n ? static_cast<uint64_t>(*n) : fallback;
}

bool Config::get_bool(const std::string& key, bool fallback) const {
    const bool* b = find<bool>(entries_, key);
    return b ? *b : fallback;
}

std::string Config::get_string(const std::string& key, const std::string& fallback) const {
    const std::string* s = find<std::string>(entries_, key);
    return s ? *s : fallback;
}

std::vector<uint32_t> Config::get_u32_list(const std::string& key) const {
    std::vector<uint32_t> out;
    if (const auto* list = find<std::vector<int64_t>>(entries_, key))
        for (int64_t item : *list) out.push_back(static_cast<uint32_t>(item));
    return out;
}

bool Config::is_string(const std::string& key) const { return find<std::string>(entries_, key) != nullptr; }
bool Config::is_bool(const std::string& key) const { return find<bool>(entries_, key) != nullptr; }

void Config::set_u32(const std::string& key, uint32_t value, bool hex) {
    put(make(key, static_cast<int64_t>(value), hex));
}
void Config::set_u64(const std::string& key, uint64_t value) { put(make(key, static_cast<int64_t>(value))); }
void Config::set_bool(const std::string& key, bool value) { put(make(key, value)); }
void Config::set_string(const std::string& key, const std::string& value) { put(make(key, value)); }
void Config::set_u32_list(const std::string& key, const std::vector<uint32_t>& values, bool hex) {
    put(make(key, std::vector<int64_t>(values.begin(), values.end()), hex));
}

std::vector<std::string> Config::keys_with_prefix(const std::string& prefix) const {
    std::vector<std::string> out;
    std::string p = prefix + ".";
    for (auto it = entries_.lower_bound(p); it != entries_.end() && it->first.compare(0, p.size(), p) == 0; ++it)
        out.push_back(it->first);
    return out;
}

}  // namespace sim
