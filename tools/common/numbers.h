// Numbers as the tools read them from command lines and mkbin's record
// lists: decimal or 0x hex, with '_' allowed between digits as module.toml
// allows it. One reader for every tool, so "0x1000" and "4096" mean the same
// everywhere and nothing is read as octal. And the one way they print a
// flash range.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "module/hex_text.h"

namespace cli {

// False when the text is not such a number or the number exceeds max.
bool parse_number(std::string_view text, uint64_t* value, uint64_t max = UINT64_MAX);

// "0x00080000-0x000fffff": the first and the last byte of [start, end).
using sim::hex_range;

}  // namespace cli
