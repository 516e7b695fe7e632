// Numbers as the module and the tools print them: hex with 0x and lower-case
// digits, flash offsets padded to eight digits, a range as its first and last
// byte. One way everywhere, so the same offset reads the same in every message.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

namespace sim {

// "0x00080000" (digits 8), "0xa0" (digits 2), "0x1000" (digits 0: as many as it takes).
inline std::string hex(uint64_t value, int digits = 8) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llx", digits, static_cast<unsigned long long>(value));
    return text;
}

// "0x00080000-0x000fffff": the first and the last byte of [start, end).
inline std::string hex_range(uint64_t start, uint64_t end) { return hex(start) + "-" + hex(end - 1); }

}  // namespace sim
