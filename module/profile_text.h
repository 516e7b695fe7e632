// module.toml as text, for Config: read with toml++ into values with their
// lines and places, written whole, or edited in place so a hand-written
// file keeps its comments and layout.
#pragma once
#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "module/config.h"

namespace sim::profile_text {

using Entries = std::map<std::string, Config::Entry>;  // by dotted key

struct ReadText {
    Entries entries;
    std::map<std::string, std::pair<size_t, size_t>> spans;  // each value's place in the text
    std::map<std::string, size_t> headers;                   // after each table's own [header] line
};

// False with "SOURCE:LINE: why" for text that is not TOML or a value of a
// kind module.toml does not use (a float, a date, a list of strings).
bool read(const std::string& text, const std::string& source, ReadText* out, std::string* error);
// One value written as in module.toml; false when the text is not one.
bool read_value(const std::string& text, Config::Entry* entry);
// The value as module.toml writes it.
std::string value_text(const Config::Entry& entry);
// A whole file holding the entries.
std::string file_text(const Entries& entries);
// The text as read, with the values that changed replaced where they stand,
// removed keys' lines taken out and new keys put below their table's header
// (or into a new section at the end); empty when the result would not read
// back as the entries.
std::string edited(const std::string& text, const ReadText& read, const Entries& entries);

// Dotted keys as a command line gives them: a quoted part ('...' or "...")
// may hold dots, and registry key paths keep their backslashes.
bool split_key(const std::string& text, std::vector<std::string>* parts);
std::string join(const std::vector<std::string>& path);

}  // namespace sim::profile_text
