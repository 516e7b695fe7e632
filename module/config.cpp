#include "module/config.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace sim {

static std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

bool parse_number(const std::string& text, uint64_t* value) {
    std::string t = trim(text);
    std::string digits;
    for (char c : t)
        if (c != '_') digits += c;
    if (digits.empty()) return false;
    int base = 10;
    size_t pos = 0;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        pos = 2;
    }
    if (pos >= digits.size()) return false;
    uint64_t v = 0;
    for (; pos < digits.size(); ++pos) {
        char c = digits[pos];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * base + d;
    }
    *value = v;
    return true;
}

// Splits a dotted key path, honouring '...' and "..." parts.
static bool split_path(const std::string& text, std::vector<std::string>* parts) {
    std::string cur;
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == '\'' || c == '"') {
            size_t end = text.find(c, i + 1);
            if (end == std::string::npos) return false;
            cur += text.substr(i + 1, end - i - 1);
            i = end + 1;
        } else if (c == '.') {
            parts->push_back(trim(cur));
            cur.clear();
            ++i;
        } else {
            cur += c;
            ++i;
        }
    }
    parts->push_back(trim(cur));
    return true;
}

static std::string join_path(const std::vector<std::string>& parts) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += '.';
        out += parts[i];
    }
    return out;
}

static std::string strip_comment(const std::string& line) {
    bool in_single = false, in_double = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\'' && !in_double)
            in_single = !in_single;
        else if (c == '"' && !in_single)
            in_double = !in_double;
        else if (c == '#' && !in_single && !in_double)
            return line.substr(0, i);
    }
    return line;
}

bool Config::parse(const std::string& text, std::string* error) {
    std::istringstream in(text);
    std::string line;
    std::string section;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::string t = trim(strip_comment(line));
        if (t.empty()) continue;
        if (t.front() == '[') {
            if (t.back() != ']') {
                if (error) *error = "line " + std::to_string(number) + ": unclosed section header";
                return false;
            }
            std::vector<std::string> parts;
            if (!split_path(t.substr(1, t.size() - 2), &parts)) {
                if (error) *error = "line " + std::to_string(number) + ": bad section name";
                return false;
            }
            section = join_path(parts);
            continue;
        }
        // The key ends at the first '=' outside quotes.
        size_t eq = std::string::npos;
        bool in_single = false, in_double = false;
        for (size_t i = 0; i < t.size(); ++i) {
            char c = t[i];
            if (c == '\'' && !in_double)
                in_single = !in_single;
            else if (c == '"' && !in_single)
                in_double = !in_double;
            else if (c == '=' && !in_single && !in_double) {
                eq = i;
                break;
            }
        }
        if (eq == std::string::npos) {
            if (error) *error = "line " + std::to_string(number) + ": expected key = value";
            return false;
        }
        std::vector<std::string> parts;
        if (!split_path(t.substr(0, eq), &parts)) {
            if (error) *error = "line " + std::to_string(number) + ": bad key";
            return false;
        }
        std::string key = join_path(parts);
        if (!section.empty()) key = section + "." + key;
        values_[key] = trim(t.substr(eq + 1));
    }
    return true;
}

bool Config::load(const std::string& path, std::string* error) {
    std::ifstream f(path);
    if (!f) {
        if (error) *error = "cannot read " + path;
        return false;
    }
    std::stringstream ss;
    ss << f.rdbuf();
    std::string e;
    if (!parse(ss.str(), &e)) {
        if (error) *error = path + ": " + e;
        return false;
    }
    return true;
}

// Quotes a key part when it holds anything but letters, digits, '_' and '-'.
static std::string quote_part(const std::string& part) {
    for (char c : part)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') return "'" + part + "'";
    return part;
}

std::string Config::to_toml() const {
    // Group keys by their section (everything before the last dot).
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> sections;
    for (const auto& [key, value] : values_) {
        std::vector<std::string> parts;
        split_path(key, &parts);
        // Keys were stored unquoted; re-split on the last dot only.
        size_t dot = key.rfind('.');
        std::string section = dot == std::string::npos ? "" : key.substr(0, dot);
        std::string name = dot == std::string::npos ? key : key.substr(dot + 1);
        sections[section].push_back({name, value});
    }
    std::string out;
    for (const auto& [section, entries] : sections) {
        if (!section.empty()) {
            if (!out.empty()) out += "\n";
            // Section names may hold dots inside quoted parts (registry paths
            // use backslashes, so only plain names are split here).
            std::string header;
            size_t start = 0;
            std::string s = section;
            std::vector<std::string> parts;
            while (true) {
                size_t dot = s.find('.', start);
                parts.push_back(s.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
                if (dot == std::string::npos) break;
                start = dot + 1;
            }
            for (size_t i = 0; i < parts.size(); ++i) header += (i ? "." : "") + quote_part(parts[i]);
            out += "[" + header + "]\n";
        }
        for (const auto& [name, value] : entries) out += quote_part(name) + " = " + value + "\n";
    }
    return out;
}

bool Config::save(const std::string& path, std::string* error) const {
    std::string tmp = path + ".tmp";
    {
        std::ofstream f(tmp, std::ios::trunc);
        if (!f) {
            if (error) *error = "cannot write " + tmp;
            return false;
        }
        f << "# updatetool simulated module profile\n" << to_toml();
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

std::optional<std::string> Config::raw(const std::string& key) const {
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

bool Config::set_from_assignment(const std::string& assignment, std::string* error) {
    size_t eq = assignment.find('=');
    if (eq == std::string::npos || eq == 0) {
        if (error) *error = "expected key=value, got '" + assignment + "'";
        return false;
    }
    std::string key = trim(assignment.substr(0, eq));
    std::string value = trim(assignment.substr(eq + 1));
    uint64_t n;
    if (parse_number(value, &n) || value == "true" || value == "false" ||
        (!value.empty() && (value.front() == '[' || value.front() == '"' || value.front() == '\''))) {
        values_[key] = value;
    } else {
        set_string(key, value);
    }
    return true;
}

static std::string unquote(const std::string& v) {
    if (v.size() >= 2 && v.front() == '\'' && v.back() == '\'') return v.substr(1, v.size() - 2);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') {
        std::string out;
        for (size_t i = 1; i + 1 < v.size(); ++i) {
            if (v[i] == '\\' && i + 2 < v.size()) {
                char n = v[++i];
                out += n == 'n' ? '\n' : n == 't' ? '\t' : n;
            } else {
                out += v[i];
            }
        }
        return out;
    }
    return v;
}

uint32_t Config::get_u32(const std::string& key, uint32_t fallback) const {
    return static_cast<uint32_t>(get_u64(key, fallback));
}

uint64_t Config::get_u64(const std::string& key, uint64_t fallback) const {
    auto it = values_.find(key);
    uint64_t v;
    if (it == values_.end() || !parse_number(unquote(it->second), &v)) return fallback;
    return v;
}

bool Config::get_bool(const std::string& key, bool fallback) const {
    auto it = values_.find(key);
    if (it == values_.end()) return fallback;
    std::string v = unquote(it->second);
    if (v == "true" || v == "1") return true;
    if (v == "false" || v == "0") return false;
    return fallback;
}

std::string Config::get_string(const std::string& key, const std::string& fallback) const {
    auto it = values_.find(key);
    if (it == values_.end()) return fallback;
    return unquote(it->second);
}

std::vector<uint32_t> Config::get_u32_list(const std::string& key) const {
    std::vector<uint32_t> out;
    auto it = values_.find(key);
    if (it == values_.end()) return out;
    std::string v = trim(it->second);
    if (!v.empty() && v.front() == '[') v = v.substr(1);
    if (!v.empty() && v.back() == ']') v.pop_back();
    std::stringstream ss(v);
    std::string item;
    while (std::getline(ss, item, ',')) {
        uint64_t n;
        if (parse_number(trim(item), &n)) out.push_back(static_cast<uint32_t>(n));
    }
    return out;
}

static std::string hex_text(uint64_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
    return buf;
}

void Config::set_u32(const std::string& key, uint32_t value, bool hex) {
    values_[key] = hex ? hex_text(value) : std::to_string(value);
}
void Config::set_u64(const std::string& key, uint64_t value) { values_[key] = std::to_string(value); }
void Config::set_bool(const std::string& key, bool value) { values_[key] = value ? "true" : "false"; }
void Config::set_string(const std::string& key, const std::string& value) {
    std::string q = "\"";
    for (char c : value) {
        if (c == '"' || c == '\\') q += '\\';
        if (c == '\n') {
            q += "\\n";
            continue;
        }
        q += c;
    }
    values_[key] = q + "\"";
}
void Config::set_u32_list(const std::string& key, const std::vector<uint32_t>& values, bool hex) {
    std::string out = "[";
    for (size_t i = 0; i < values.size(); ++i) {
        if (i) out += ", ";
        out += hex ? hex_text(values[i]) : std::to_string(values[i]);
    }
    values_[key] = out + "]";
}

std::vector<std::string> Config::keys_with_prefix(const std::string& prefix) const {
    std::vector<std::string> out;
    std::string p = prefix + ".";
    for (auto it = values_.lower_bound(p); it != values_.end() && it->first.compare(0, p.size(), p) == 0; ++it)
        out.push_back(it->first);
    return out;
}

}  // namespace sim
