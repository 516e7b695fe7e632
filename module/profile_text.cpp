#include "module/profile_text.h"

#include <toml++/toml.h>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>
#include <type_traits>

#include "module/profile_keys.h"

namespace sim::profile_text {

namespace {

using Entry = Config::Entry;

// A key part as TOML writes it: bare when it can be.
std::string key_text(const std::string& part) {
    for (char c : part)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-')
            return part.find('\'') == std::string::npos ? "'" + part + "'" : "\"" + part + "\"";
    return part;
}

std::string key_text(const std::vector<std::string>& path, size_t from) {
    std::string text;
    for (size_t i = from; i < path.size(); ++i) {
        if (i > from) text += '.';
        text += key_text(path[i]);
    }
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

// False for what module.toml does not use: floats, dates, nested lists.
bool read_node(const toml::node& node, Entry* e) {
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

bool read_table(const toml::table& table, const std::string& text, const std::string& source,
                std::vector<std::string>* path, ReadText* out, std::string* error) {
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
            Entry e;
            e.path = *path;
            e.line = static_cast<int>(at.begin.line);
            if (!read_node(node, &e)) {
                const KeyRule* rule = find_key_rule(*path);
                *error = where(source, e.line) +
                         (rule ? key + " must be " + describe_rule(*rule) + ", not " + type_name(node)
                               : "unknown key " + key);
                return false;
            }
            out->spans[key] = {offset_of(text, at.begin), offset_of(text, at.end)};
            out->entries[key] = std::move(e);
        }
        path->pop_back();
    }
    return true;
}

std::string trimmed(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return "";
    return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

std::string line_of(const std::string& text, uint32_t number) {
    size_t begin = offset_of(text, {number, 1});
    size_t end = text.find('\n', begin);
    return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

// The key a "key = value" line sets, with the table of the [header] above
// it; false for any other line.
bool key_on_line(const std::string& text, uint32_t number, std::vector<std::string>* path, std::string* value) {
    std::string line = line_of(text, number);
    if (trimmed(line).rfind('[', 0) == 0) return false;
    // The first '=' outside a quoted key part.
    size_t equals = std::string::npos;
    for (size_t i = 0; i < line.size() && equals == std::string::npos; ++i) {
        if (line[i] == '\'' || line[i] == '"') {
            i = line.find(line[i], i + 1);
            if (i == std::string::npos) return false;
        } else if (line[i] == '=') {
            equals = i;
        }
    }
    std::vector<std::string> table, key;
    if (equals == std::string::npos || !split_key(line.substr(0, equals), &key)) return false;
    for (uint32_t above = number; above-- > 1;) {
        std::string header = trimmed(line_of(text, above));
        if (header.size() < 2 || header[0] != '[' || header[1] == '[') continue;
        size_t close = header.rfind(']');
        if (close == std::string::npos || !split_key(header.substr(1, close - 1), &table)) table.clear();
        break;
    }
    *path = table;
    path->insert(path->end(), key.begin(), key.end());
    *value = trimmed(line.substr(equals + 1));
    return true;
}

// A line TOML cannot read, in the words of module.toml's rules where the
// line sets a key: the key and what it takes, then the parser's words.
std::string unreadable(const std::string& text, uint32_t number, const std::string& parser) {
    std::vector<std::string> path;
    std::string value;
    if (!key_on_line(text, number, &path, &value)) return parser;
    const KeyRule* rule = find_key_rule(path);
    if (!rule) return "unknown key " + join(path) + " (TOML: " + parser + ")";
    return join(path) + " must be " + describe_rule(*rule) + ", not " + value + " (TOML: " + parser + ")";
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

// The value as module.toml writes it.
std::string value_text(const Entry& e) {
    toml::table holder;
    insert(holder, "v", e);
    std::ostringstream text;
    text << holder["v"];
    return text.str();
}

bool read(const std::string& text, const std::string& source, ReadText* out, std::string* error) {
    try {
        toml::table table = toml::parse(text, std::string_view(source));
        std::vector<std::string> path;
        return read_table(table, text, source, &path, out, error);
    } catch (const toml::parse_error& e) {
        // toml++ quotes the character it stopped at as it is, a line break
        // included: the error stays on one line.
        std::string why;
        for (char c : e.description()) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned char>(c));
            why += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? std::string(escape) : std::string(1, c);
        }
        *error = where(source, static_cast<int>(e.source().begin.line)) + unreadable(text, e.source().begin.line, why);
        return false;
    }
}

bool read_value(const std::string& text, Entry* entry) {
    try {
        toml::table one = toml::parse("v = " + text);
        return one.size() == 1 && one.get("v") && read_node(*one.get("v"), entry);
    } catch (const toml::parse_error&) {
        return false;
    }
}

std::string file_text(const Entries& entries) {
    toml::table root;
    for (const auto& [key, e] : entries) {
        toml::table* table = &root;
        for (size_t i = 0; i + 1 < e.path.size(); ++i)
            table = table->emplace<toml::table>(e.path[i]).first->second.as_table();
        insert(*table, e.path.back(), e);
    }
    std::ostringstream text;
    text << root << "\n";
    return text.str();
}

std::string edited(const std::string& original, const ReadText& old, const Entries& entries) {
    struct Edit {
        size_t begin, end;
        std::string text;
    };
    std::vector<Edit> edits;
    auto whole_lines = [&original](size_t begin, size_t end) {
        size_t first = original.rfind('\n', begin == 0 ? 0 : begin - 1);
        size_t last = original.find('\n', end);
        return std::pair<size_t, size_t>{first == std::string::npos || begin == 0 ? 0 : first + 1,
                                         last == std::string::npos ? original.size() : last + 1};
    };
    for (const auto& [key, e] : old.entries) {
        auto span = old.spans.at(key);
        auto now = entries.find(key);
        if (now == entries.end()) {
            auto [begin, end] = whole_lines(span.first, span.second);
            edits.push_back({begin, end, ""});
        } else if (now->second.value != e.value || now->second.hex != e.hex) {
            edits.push_back({span.first, span.second, value_text(now->second)});
        }
    }
    // New keys go below the nearest header of a table that holds them, or
    // into a new section at the end.
    std::map<std::string, std::string> new_sections;
    for (const auto& [key, e] : entries) {
        if (old.entries.count(key)) continue;
        size_t depth = e.path.size() - 1;
        while (depth > 0 && !old.headers.count(join({e.path.begin(), e.path.begin() + depth}))) --depth;
        if (depth == 0) {
            std::vector<std::string> table(e.path.begin(), e.path.end() - 1);
            std::string header = "[";
            header.append(key_text(table, 0)).append("]\n");
            new_sections[header] += key_text(e.path, table.size()) + " = " + value_text(e) + "\n";
            continue;
        }
        size_t at = old.headers.at(join({e.path.begin(), e.path.begin() + depth}));
        edits.push_back({at, at, key_text(e.path, depth) + " = " + value_text(e) + "\n"});
    }
    std::stable_sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.begin > b.begin; });
    std::string text = original;
    for (const Edit& edit : edits) text.replace(edit.begin, edit.end - edit.begin, edit.text);
    for (const auto& [header, lines] : new_sections)
        text += (text.empty() || text.back() == '\n' ? "\n" : "\n\n") + header + lines;
    // The edit must read back as exactly these values.
    ReadText check;
    std::string why;
    if (!read(text, "", &check, &why) || !same_values(check.entries, entries)) return "";
    return text;
}

}  // namespace sim::profile_text
