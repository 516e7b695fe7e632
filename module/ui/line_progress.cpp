#include "module/ui/line_progress.h"

#include <cstdio>

namespace sim::ui {

std::string byte_count(uint64_t bytes) {
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
        return text;
    }
    const char* units[] = {"KiB", "MiB", "GiB"};
    double value = static_cast<double>(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 2) {
        value /= 1024;
        ++unit;
    }
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

static std::string duration(double seconds) {
    unsigned long total = static_cast<unsigned long>(seconds + 0.5);
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%lu:%02lu:%02lu", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%lu:%02lu", total / 60, total % 60);
    return text;
}

std::string progress_line_text(const std::string& phase, uint64_t done, uint64_t total, double seconds) {
    if (done > total) done = total;
    int percent = total ? static_cast<int>(done * 100 / total) : 100;
    char text[128];
    std::snprintf(text, sizeof text, "%-21s  %9s of %-9s %3d%%", phase.c_str(), byte_count(done).c_str(),
                  byte_count(total).c_str(), percent);
    std::string line = text;
    if (seconds > 0 && done > 0) {
        double rate = static_cast<double>(done) / seconds;
        line += "  " + byte_count(static_cast<uint64_t>(rate)) + "/s";
        if (done < total) line += "  " + duration(static_cast<double>(total - done) / rate) + " left";
    }
    return line;
}

}  // namespace sim::ui
