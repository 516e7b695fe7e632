#include "tools/modulectl/sweep_merge.h"

#include <cstdio>
#include <fstream>
#include <map>

#include "tools/common/cli.h"

using json = nlohmann::ordered_json;

namespace {

// "points 3 and 17": a list of operations in words.
std::string operations_text(const std::vector<uint64_t>& ops) {
    std::string out = ops.size() == 1 ? "point " : "points ";
    for (size_t i = 0; i < ops.size() && i < 10; ++i)
        out += (i == 0 ? "" : i + 1 == ops.size() ? " and " : ", ") + std::to_string(ops[i]);
    if (ops.size() > 10) out += " and " + std::to_string(ops.size() - 10) + " more";
    return out;
}

}  // namespace

bool merge_sweep_results(const std::vector<SweepResult>& shards, const std::vector<std::string>& names,
                         SweepResult* merged, std::string* error) {
    auto name = [&](size_t s) { return s < names.size() ? names[s] : "table " + std::to_string(s + 1); };
    if (shards.empty()) {
        *error = "no tables to merge";
        return false;
    }
    const SweepResult& first = shards[0];
    *merged = first;
    merged->shard = "merged";
    merged->points = json::array();
    // Every input the rows depend on, and the uncut update they were cut in.
    for (size_t s = 1; s < shards.size(); ++s) {
        const SweepResult& other = shards[s];
        json keys = first.inputs;
        keys.update(other.inputs);  // every key of either
        for (const auto& [key, ignored] : keys.items()) {
            const json ours = first.inputs.contains(key) ? first.inputs[key] : json(nullptr);
            const json theirs = other.inputs.contains(key) ? other.inputs[key] : json(nullptr);
            if (theirs != ours) {
                *error = name(s) + " is of other inputs than " + name(0) + ": " + key + " " + theirs.dump() + ", not " +
                         ours.dump();
                return false;
            }
        }
        if (other.flash_operations != first.flash_operations || other.update_us != first.update_us) {
            *error = name(s) + " is of another update than " + name(0) + ": " + std::to_string(other.flash_operations) +
                     " operations in " + std::to_string(other.update_us) + " us, not " +
                     std::to_string(first.flash_operations) + " in " + std::to_string(first.update_us);
            return false;
        }
    }
    // The points of the whole sweep, each from exactly one shard.
    const std::vector<uint64_t> expected =
        sweep_points(first.inputs.value("every", uint64_t{0}), first.inputs.value("points", uint64_t{0}),
                     first.inputs.value("seed", uint64_t{1}), first.flash_operations);
    std::map<uint64_t, json> rows;
    std::vector<uint64_t> twice, unexpected, missing;
    for (const SweepResult& shard : shards)
        for (const json& row : shard.points) {
            const uint64_t op = row.value("operation", uint64_t{0});
            if (!rows.emplace(op, row).second) twice.push_back(op);
        }
    std::map<uint64_t, bool> wanted;
    for (uint64_t op : expected) wanted[op] = true;
    for (const auto& [op, row] : rows)
        if (!wanted.count(op)) unexpected.push_back(op);
    for (uint64_t op : expected)
        if (!rows.count(op)) missing.push_back(op);
    std::string problems;
    if (!missing.empty()) problems += operations_text(missing) + " missing";
    if (!twice.empty()) problems += (problems.empty() ? "" : "; ") + operations_text(twice) + " given twice";
    if (!unexpected.empty())
        problems += (problems.empty() ? "" : "; ") + operations_text(unexpected) + " not of this sweep";
    if (!problems.empty()) {
        *error = "the tables do not hold every point once: " + problems;
        return false;
    }
    for (uint64_t op : expected) merged->points.push_back(rows[op]);
    return true;
}

int merge_sweeps(const std::vector<std::string>& parts, const SweepFiles& files) {
    std::vector<SweepResult> shards;
    for (const std::string& part : parts) {
        std::ifstream in(part);
        json j = in ? json::parse(in, nullptr, false) : json(nullptr);
        std::string error;
        SweepResult shard;
        if (!in) error = "cannot read it";
        if (!in || !sweep_from_json(j, &shard, &error)) {
            std::fprintf(stderr, "modulectl sweep: %s: %s\n", part.c_str(), error.c_str());
            return cli::kUsage;
        }
        shards.push_back(std::move(shard));
    }
    SweepResult merged;
    std::string error;
    if (!merge_sweep_results(shards, parts, &merged, &error)) {
        std::fprintf(stderr, "modulectl sweep: %s\n", error.c_str());
        return cli::kUsage;
    }
    std::printf("update of %s: %llu flash operations, %s of device time; %zu tables merged\n", merged.image.c_str(),
                static_cast<unsigned long long>(merged.flash_operations),
                device_time_text(static_cast<double>(merged.update_us) / 1e6).c_str(), shards.size());
    std::fputs(sweep_text(merged).c_str(), stdout);
    if (!write_sweep_files(merged, files, &error)) {
        std::fprintf(stderr, "modulectl sweep: %s\n", error.c_str());
        return cli::kUsage;
    }
    return sweep_all_verified(merged) ? 0 : cli::kFailure;
}
