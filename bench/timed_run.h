// What the timed benchmarks share: a tool run as a process with its CPU
// (user + system, its waited-for children included), wall time and peak
// memory; medians; the machine and its load for the figures' heading.
#pragma once
#include <string>
#include <vector>

namespace bench {

struct Run {
    double cpu_seconds = 0;  // user + system
    double wall_seconds = 0;
    double peak_mib = 0;
    int status = -1;
};

// Runs argv with stdout silenced and waits for it.
Run run(const std::vector<std::string>& argv);
double median(std::vector<double> values);
void print_machine();

}  // namespace bench
