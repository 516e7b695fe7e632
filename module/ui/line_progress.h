// The line front-end's progress line on a terminal: what the update is doing,
// bytes done of total, percent, rate and time left, in less than 80 columns.
#pragma once
#include <cstdint>
#include <string>

namespace sim::ui {

// "512 B", "64.0 KiB", "16.0 MiB", "1.0 GiB"
std::string byte_count(uint64_t bytes);

// seconds: since the phase began (rate and time left appear once it is
// above 0 and some bytes are done).
std::string progress_line_text(const std::string& phase, uint64_t done, uint64_t total, double seconds);

}  // namespace sim::ui
