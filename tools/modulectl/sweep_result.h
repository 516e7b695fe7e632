// A sweep's result as data: what was swept (the inputs the points depend
// on), the update's length in operations and device time, and one row per
// cut point. The sweep, the merge of shards and the picture all read it, and
// its text, CSV and JSON forms are made here only, so a merged table is the
// table of one run.
#pragma once
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

struct SweepResult {
    std::string image, module;  // as given
    // What the rows depend on: the module's and the image's SHA-256 and the
    // options that choose and make the points. Shards of one sweep have
    // equal inputs.
    nlohmann::ordered_json inputs = nlohmann::ordered_json::object();
    uint64_t flash_operations = 0;  // of the update without a cut
    uint64_t update_us = 0;         // its device time (virtual clock), verify included
    std::string shard = "1/1";      // "I/N", or "merged" for shards put back together
    // The rows (JSON `points`), in operation order: operation, time_us (the
    // device time the power went), kind, address, phase, section, done,
    // bootable, reason, damaged_sections, retry_outcome, retry_exit_status,
    // retry_verified, problem, and at depth 2 second_cuts (rows of the same
    // shape for cuts of the retry, each with its final retry).
    nlohmann::ordered_json points = nlohmann::ordered_json::array();
};

// The cut points of a sweep over total operations: every Nth, or K drawn
// with the seed (20 when neither is given); the Ith of every N of them for
// shard I/N. The same for the retry of a cut at depth 2, whose points are
// drawn from a seed of its own.
std::vector<uint64_t> sweep_points(uint64_t every, uint64_t points, uint64_t seed, uint64_t total, unsigned shard = 1,
                                   unsigned shards = 1);

// The summary (JSON `summary`): cut_points, not_bootable, window,
// retries_verified, update_us, and at depth 2 double_cuts,
// unbootable_only_after_double_cut, final_retries_verified. The window is
// {first_op, last_op, first_us, last_us, seconds, share} of the cut points
// that left the board unbootable, share being seconds over the update's
// device time; null when none did.
nlohmann::ordered_json sweep_summary(const SweepResult& result);
// The summary in words, one line each.
std::vector<std::string> sweep_summary_lines(const SweepResult& result);
// True when every cut was taken as asked and every retry (and final retry)
// succeeded and verified.
bool sweep_all_verified(const SweepResult& result);

std::string sweep_text(const SweepResult& result);  // the table and the summary lines
std::string sweep_csv(const SweepResult& result);   // the table, the summary as # lines
nlohmann::ordered_json sweep_json(const SweepResult& result);
// False with a reason when j is not a sweep's JSON.
bool sweep_from_json(const nlohmann::ordered_json& j, SweepResult* result, std::string* error);

// The files a sweep writes (each "" for none), each written whole or not
// at all (tools/common/output_file.h); false with the reason.
struct SweepFiles {
    std::string csv, json, svg;
};
bool write_sweep_files(const SweepResult& result, const SweepFiles& files, std::string* error);

// "3.1 s", "12.4 ms": device time in words.
std::string device_time_text(double seconds);
