// modulectl sweep --merge: the --json tables of a sweep's shards put back
// together into the table of one run over every point. Shards of different
// inputs (another module, image or options) are refused, naming the
// difference; points missing or given twice are named too.
#pragma once
#include <string>
#include <vector>

#include "tools/modulectl/sweep_result.h"

// Puts the shards together into *merged; false with the reason when they
// are not shards of one sweep, or miss or repeat points (names: the
// tables' names for the reason).
bool merge_sweep_results(const std::vector<SweepResult>& shards, const std::vector<std::string>& names,
                         SweepResult* merged, std::string* error);

// Exit status as for a sweep: 0 when every retry succeeded and verified, 1
// when one did not, 2 for a table that cannot be read or written, shards
// that differ, or points missing or given twice.
int merge_sweeps(const std::vector<std::string>& parts, const SweepFiles& files);
