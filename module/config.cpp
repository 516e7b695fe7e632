#include "module/config.h"

#include <toml++/toml.h>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <type_traits>

#include "module/profile_keys.h"

namespace sim {

namespace {

using Entry = Config::Entry;

std::string join(const std::vector<std::string>& path) {
    std::string key;
    for (const std::string& part : path) key += (key.empty() ? "" : ".") + part;
    return key;
}

// Splits a dotted key as a command line gives it; a quoted part ('...' or
// "...") may hold dots, and registry key paths keep their backslashes.
bool split_key(const std::string& text, std::vector<std::string>* parts) {
    std::string part;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\'' || c == '"') {
            size_t end = text.find(c, i + 1);
            if (end == std::string::npos) return false;
            part += text.substr(i + 1, end - i - 1);
            i = end;
        } else if (c == '.') {
            parts->push_back(part);
            part.clear();
        } else if (c != ' ' && c != '\t') {
            part += c;
        }
    }
    parts->push_back(part);
    for (const std::string& p : *parts)
        if (p.empty()) return false;
    return true;
}

// A key part as TOML writes it: bare when it can be.
std::string key_text(const std::string& part) {
    for (char c : part)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-')
            return part.find('\'') == std::string::npos ? "'" + part + "'" : "\"" + part + "\"";
    return part;
}

std::string key_text(const std::vector<std::string>& path, size_t from) {
    std::string text;
    for (size_t i = from; i < path.size(); ++i) text += (i > from ? "." : "") + key_text(path[i]);
    return text;
}

void insert(toml::table& table, const std::string& name, const Entry& e) {
    toml::value_flags flags = e.hex ? toml::value_flags::format_as_hexadecimal : toml::value_flags::none;
    std::visit(
        [&](const auto& v) {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, std::vector<int64_t>>) {
                toml::array list;
                for (int64_t item : v) {
                    toml::value<int64_t> n(item);
                    n.flags(flags);
                    list.push_back(std::move(n));
                }
                table.insert_or_assign(name, std::move(list));
            } else {
                toml::value<V> n(v);
                if constexpr (std::is_same_v<V, int64_t>) n.flags(flags);
                table.insert_or_assign(name, std::move(n));
            }
        },
        e.value);
}

// The value as module.toml writes it.
std::string value_text(const Entry& e) {
    toml::table holder;
    insert(holder, "v", e);
    std::ostringstream text;
    text << holder["v"];
    return text.str();
}

// False for what module.toml does not use: floats, dates, nested lists.
bool read_value(const toml::node& node, Entry* e) {
    auto hex = [](const toml::value<int64_t>& n) {
        return (n.flags() & toml::value_flags::format_as_hexadecimal) != toml::value_flags::none;
    };
    if (const auto* b = node.as_boolean()) {
        e->value = b->get();
    } else if (const auto* n = node.as_integer()) {
        e->value = n->get();
        e->hex = hex(*n);
    } else if (const auto* s = node.as_string()) {
        e->value = s->get();
    } else if (const auto* list = node.as_array()) {
        std::vector<int64_t> items;
        for (const toml::node& item : *list) {
            const auto* n = item.as_integer();
            if (!n) return false;
            items.push_back(n->get());
            e->hex = e->hex || hex(*n);
        }
        e->value = std::move(items);
    } else {
        return false;
    }
    return true;
}

const char* type_name(const toml::node& node) {
    switch (node.type()) {
        case toml::node_type::floating_point: return "a float";
        case toml::node_type::date:
        case toml::node_type::time:
        case toml::node_type::date_time: return "a date or time";
        case toml::node_type::array: return "a list of other values";
        default: return "a table";
    }
}

bool in_range(const KeyRule& r, int64_t n) {
    return n >= 0 && static_cast<uint64_t>(n) >= r.min && static_cast<uint64_t>(n) <= r.max;
}

// Empty when the value keeps its key's rule; else why not.
std::string problem(const KeyRule& r, const std::string& key, const Entry& e) {
    std::string must = key + " must be " + describe_rule(r) + ", not " + value_text(e);
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

std::string where(const std::string& source, int line) {
    return line > 0 ? source + ":" + std::to_string(line) + ": " : source + ": ";
}

// Byte offset of a line and column (columns count characters) in text.
size_t offset_of(const std::string& text, toml::source_position at) {
    size_t offset = 0;
    for (uint32_t line = 1; line < at.line && offset < text.size(); ++line) {
        offset = text.find('\n', offset);
        offset = offset == std::string::npos ? text.size() : offset + 1;
    }
    for (uint32_t column = 1; column < at.column && offset < text.size(); ++column) {
        ++offset;
        while (offset < text.size() && (static_cast<unsigned char>(text[offset]) & 0xC0) == 0x80) ++offset;
    }
    return offset;
}

struct ReadResult {
    std::map<std::string, Entry> entries;
    std::map<std::string, std::pair<size_t, size_t>> spans;  // the values' places in the text
    std::map<std::string, size_t> headers;                   // after the [header] line of each table that has one
};

bool read_table(const toml::table& table, const std::string& text, const std::string& source,
                std::vector<std::string>* path, ReadResult* out, std::string* error) {
    for (auto&& [name, node] : table) {
        path->push_back(std::string(name.str()));
        std::string key = join(*path);
        const toml::source_region& at = node.source();
        if (const toml::table* sub = node.as_table()) {
            // A table with a [header] line of its own: new keys go below it.
            size_t start = offset_of(text, at.begin);
            size_t line_end = text.find('\n', start);
            std::string line = text.substr(start, line_end - start);
            if (!sub->is_inline() && line.rfind("[", 0) == 0 && line.rfind("[[", 0) != 0) {
                try {
                    toml::table header = toml::parse(line);
                    std::vector<std::string> named;
                    for (const toml::table* t = &header; t && t->size() == 1;) {
                        named.push_back(std::string(t->cbegin()->first.str()));
                        t = t->cbegin()->second.as_table();
                    }
                    if (named == *path) out->headers[key] = line_end == std::string::npos ? text.size() : line_end + 1;
                } catch (const toml::parse_error&) {}
            }
            if (!read_table(*sub, text, source, path, out, error)) return false;
        } else {
            const KeyRule* rule = find_key_rule(*path);
            Entry e;
            e.path = *path;
            e.line = static_cast<int>(at.begin.line);
            if (!rule) {
                *error = where(source, e.line) + "unknown key " + key;
                return false;
            }
            if (!read_value(node, &e)) {
                *error = where(source, e.line) + key + " must be " + describe_rule(*rule) + ", not " + type_name(node);
                return false;
            }
            if (std::string why = problem(*rule, key, e); !why.empty()) {
                *error = where(source, e.line) + why;
                return false;
            }
            out->spans[key] = {offset_of(text, at.begin), offset_of(text, at.end)};
            out->entries[key] = std::move(e);
        }
        path->pop_back();
    }
    return true;
}

bool read_text(const std::string& text, const std::string& source, ReadResult* out, std::string* error) {
    try {
        toml::table table = toml::parse(text, std::string_view(source));
        std::vector<std::string> path;
        return read_table(table, text, source, &path, out, error);
    } catch (const toml::parse_error& e) {
        *error = where(source, static_cast<int>(e.source().begin.line)) + std::string(e.description());
        return false;
    }
}

bool same_values(const std::map<std::string, Entry>& a, const std::map<std::string, Entry>& b) {
    if (a.size() != b.size()) return false;
    for (const auto& [key, e] : a) {
        auto it = b.find(key);
        if (it == b.end() || it->second.value != e.value || it->second.path != e.path) return false;
    }
    return true;
}

}  // namespace

bool Config::parse(const std::string& text, const std::string& source, std::string* error) {
    ReadResult read;
    std::string why;
    if (!read_text(text, source, &read, &why)) {
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
        std::string why = rule ? problem(*rule, key, e) : "unknown key " + key;
        if (!why.empty()) {
            if (error) *error = where(source, e.line) + why;
            return false;
        }
    }
    return true;
}

bool Config::load(const std::string& path, std::string* error) {
    std::error_code ec;
    std::ifstream f(path);
    if (!f || std::filesystem::is_directory(path, ec)) {
        if (error) *error = "cannot read " + path;
        return false;
    }
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    return parse(text, path, error);
}

std::string Config::to_toml() const {
    toml::table root;
    for (const auto& [key, e] : entries_) {
        toml::table* table = &root;
        for (size_t i = 0; i + 1 < e.path.size(); ++i)
            table = table->emplace<toml::table>(e.path[i]).first->second.as_table();
        insert(*table, e.path.back(), e);
    }
    std::ostringstream text;
    text << root << "\n";
    return text.str();
}

// The file as read, with the values that changed replaced in place, removed
// keys' lines taken out and new keys put below their table's header, so
// comments and layout stay; empty when that cannot be done.
std::string Config::edited_text() const {
    struct Edit {
        size_t begin, end;
        std::string text;
    };
    std::vector<Edit> edits;
    auto whole_lines = [this](size_t begin, size_t end) {
        size_t first = text_.rfind('\n', begin == 0 ? 0 : begin - 1);
        size_t last = text_.find('\n', end);
        return std::pair<size_t, size_t>{first == std::string::npos || begin == 0 ? 0 : first + 1,
                                         last == std::string::npos ? text_.size() : last + 1};
    };
    for (const auto& [key, e] : read_) {
        auto span = read_spans_.at(key);
        auto now = entries_.find(key);
        if (now == entries_.end()) {
            auto [begin, end] = whole_lines(span.first, span.second);
            edits.push_back({begin, end, ""});
        } else if (now->second.value != e.value || now->second.hex != e.hex) {
            edits.push_back({span.first, span.second, value_text(now->second)});
        }
    }
    // New keys go below the nearest header of a table that holds them, or
    // into a new section at the end.
    std::map<std::string, std::string> new_sections;
    for (const auto& [key, e] : entries_) {
        if (read_.count(key)) continue;
        size_t depth = e.path.size() - 1;
        while (depth > 0 && !read_headers_.count(join({e.path.begin(), e.path.begin() + depth}))) --depth;
        if (depth == 0) {
            std::vector<std::string> table(e.path.begin(), e.path.end() - 1);
            new_sections["[" + key_text(table, 0) + "]\n"] +=
                key_text(e.path, table.size()) + " = " + value_text(e) + "\n";
            continue;
        }
        size_t at = read_headers_.at(join({e.path.begin(), e.path.begin() + depth}));
        edits.push_back({at, at, key_text(e.path, depth) + " = " + value_text(e) + "\n"});
    }
    std::stable_sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.begin > b.begin; });
    std::string text = text_;
    for (const Edit& edit : edits) text.replace(edit.begin, edit.end - edit.begin, edit.text);
    for (const auto& [header, lines] : new_sections)
        text += (text.empty() || text.back() == '\n' ? "\n" : "\n\n") + header + lines;
    // The edit must read back as exactly these values.
    ReadResult check;
    std::string why;
    if (!read_text(text, "", &check, &why) || !same_values(check.entries, entries_)) return "";
    return text;
}

bool Config::save(const std::string& path, std::string* error) const {
    std::string text = text_.empty() ? "" : edited_text();
    if (text.empty()) text = "# updatetool simulated module profile\n" + to_toml();
    std::string tmp = path + ".tmp";
    {
        std::ofstream f(tmp, std::ios::trunc);
        f << text;
        if (!f) {
            if (error) *error = "cannot write " + tmp;
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        if (error) *error = "cannot replace " + path;
        return false;
    }
    return true;
}

bool Config::has(const std::string& key) const { return entries_.count(key) != 0; }

bool Config::set_from_assignment(const std::string& assignment, std::string* error) {
    size_t eq = assignment.find('=');
    Entry e;
    if (eq == std::string::npos || !split_key(assignment.substr(0, eq), &e.path)) {
        if (error) *error = "expected KEY=VALUE, not '" + assignment + "'";
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
    try {
        toml::table one = toml::parse("v = " + text);
        read = one.size() == 1 && one.get("v") && read_value(*one.get("v"), &e);
    } catch (const toml::parse_error&) {}
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

void Config::erase(const std::string& key) {
    std::vector<std::string> path;
    if (split_key(key, &path)) entries_.erase(join(path));
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
