#include "tools/modulectl/sweep_result.h"

#include <cstdio>
#include <set>
#include <sstream>

#include "module/hex_text.h"
#include "module/hw/cut_bits.h"
#include "tools/common/output_file.h"
#include "tools/modulectl/sweep_svg.h"

using json = nlohmann::ordered_json;

namespace {

std::string joined(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : " ") + n;
    return out.empty() ? "-" : out;
}

std::string text_of(const json& row, const char* key) { return row.value(key, std::string()); }
uint64_t number_of(const json& row, const char* key) { return row.value(key, uint64_t{0}); }
double time_of(const json& row) { return row.value("time_us", 0.0); }
int percent(const json& row) { return static_cast<int>(row.value("done", 0.0) * 100 + 0.5); }

bool retried_ok(const json& row) {
    return row.value("problem", std::string()).empty() && row.value("retry_exit_status", -1) == 0 &&
           row.value("retry_verified", false);
}

const json& second_cuts(const json& row) {
    static const json none = json::array();
    auto it = row.find("second_cuts");
    return it != row.end() && it->is_array() ? *it : none;
}

unsigned depth(const SweepResult& r) { return r.inputs.value("depth", 1u); }

// The first-cut columns of a row, as CSV.
std::string csv_cut(const json& r) {
    std::ostringstream line;
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", time_of(r));
    line << number_of(r, "operation") << ',' << time << ',' << text_of(r, "kind") << ','
         << sim::hex(number_of(r, "address")) << ',' << text_of(r, "phase") << ',' << text_of(r, "section") << ','
         << percent(r) << ',' << (r.value("bootable", false) ? "yes" : "no") << ','
         << joined(r.value("damaged_sections", std::vector<std::string>{})) << ',' << text_of(r, "retry_outcome") << ','
         << (r.value("retry_verified", false) ? "yes" : "no");
    return line.str();
}

std::string text_cut(const json& r) {
    char line[512];
    std::string retry =
        text_of(r, "retry_outcome") + (r.value("retry_verified", false) ? ", verified" : ", NOT verified");
    if (!text_of(r, "problem").empty()) retry += " (" + text_of(r, "problem") + ")";
    std::snprintf(line, sizeof line, "%9llu %10.6f %-7s %-10s %-17s %-11s %3d%%  %-8s %-22s %s",
                  static_cast<unsigned long long>(number_of(r, "operation")), time_of(r) / 1e6,
                  text_of(r, "kind").c_str(), sim::hex(number_of(r, "address")).c_str(), text_of(r, "phase").c_str(),
                  text_of(r, "section").c_str(), percent(r), r.value("bootable", false) ? "yes" : "no",
                  joined(r.value("damaged_sections", std::vector<std::string>{})).c_str(), retry.c_str());
    return line;
}

std::string share_text(double share) {
    char text[16];
    std::snprintf(text, sizeof text, "%.0f%%", share * 100);
    return text;
}

}  // namespace

std::vector<uint64_t> sweep_points(uint64_t every, uint64_t points, uint64_t seed, uint64_t total, unsigned shard,
                                   unsigned shards) {
    std::set<uint64_t> chosen;
    if (every) {
        for (uint64_t op = every; op <= total; op += every) chosen.insert(op);
    } else {
        uint64_t wanted = std::min(points ? points : 20, total), state = seed;
        while (chosen.size() < wanted) chosen.insert(1 + sim::next_seeded(state) % total);
    }
    std::vector<uint64_t> mine;
    uint64_t index = 0;
    for (uint64_t op : chosen)
        if (index++ % shards == shard - 1) mine.push_back(op);
    return mine;
}

std::string device_time_text(double seconds) {
    char text[32];
    if (seconds >= 100)
        std::snprintf(text, sizeof text, "%.0f s", seconds);
    else if (seconds >= 1)
        std::snprintf(text, sizeof text, "%.3g s", seconds);
    else if (seconds >= 1e-3)
        std::snprintf(text, sizeof text, "%.3g ms", seconds * 1e3);
    else
        std::snprintf(text, sizeof text, "%.3g us", seconds * 1e6);
    return text;
}

json sweep_summary(const SweepResult& r) {
    size_t unbootable = 0, verified = 0;
    const json* first = nullptr;
    const json* last = nullptr;
    for (const json& row : r.points) {
        verified += retried_ok(row);
        if (row.value("bootable", false)) continue;
        ++unbootable;
        if (!first) first = &row;
        last = &row;
    }
    json window = nullptr;
    if (first) {
        double seconds = (time_of(*last) - time_of(*first)) / 1e6;
        window = {{"first_op", number_of(*first, "operation")},
                  {"last_op", number_of(*last, "operation")},
                  {"first_us", time_of(*first)},
                  {"last_us", time_of(*last)},
                  {"seconds", seconds},
                  {"share", r.update_us ? seconds * 1e6 / static_cast<double>(r.update_us) : 0.0}};
    }
    json s = {{"cut_points", r.points.size()},
              {"not_bootable", unbootable},
              {"window", window},
              {"retries_verified", verified},
              {"update_us", r.update_us}};
    if (depth(r) >= 2) {
        size_t doubles = 0, only_double = 0, final_ok = 0;
        for (const json& row : r.points)
            for (const json& second : second_cuts(row)) {
                ++doubles;
                only_double += row.value("bootable", false) && !second.value("bootable", false);
                final_ok += retried_ok(second);
            }
        s["double_cuts"] = doubles;
        s["unbootable_only_after_double_cut"] = only_double;
        s["final_retries_verified"] = final_ok;
    }
    return s;
}

std::vector<std::string> sweep_summary_lines(const SweepResult& r) {
    json s = sweep_summary(r);
    std::vector<std::string> lines;
    const std::string update = device_time_text(static_cast<double>(r.update_us) / 1e6);
    std::string window = "none";
    std::string words = "no cut point leaves the board unbootable in this " + update + " update";
    if (s["window"].is_object()) {
        const json& w = s["window"];
        window = "operations " + std::to_string(w["first_op"].get<uint64_t>()) + " to " +
                 std::to_string(w["last_op"].get<uint64_t>()) + " of " + std::to_string(r.flash_operations);
        words = "a power loss bricks the board during " + device_time_text(w["seconds"].get<double>()) + " of this " +
                update + " update (" + share_text(w["share"].get<double>()) + ", from " +
                device_time_text(w["first_us"].get<double>() / 1e6) + " to " +
                device_time_text(w["last_us"].get<double>() / 1e6) + ")";
    }
    lines.push_back("cut points: " + std::to_string(s["cut_points"].get<size_t>()) +
                    "; not bootable after the cut: " + std::to_string(s["not_bootable"].get<size_t>()) + " (" + window +
                    "); retries that succeeded and verified: " + std::to_string(s["retries_verified"].get<size_t>()));
    lines.push_back("window: " + words);
    if (s.contains("double_cuts")) {
        const size_t doubles = s["double_cuts"], only = s["unbootable_only_after_double_cut"],
                     final_ok = s["final_retries_verified"];
        lines.push_back("double cuts: " + std::to_string(doubles) + "; " +
                        (only ? std::to_string(only) + " leave the board unbootable where the single cut did not"
                              : std::string("none leaves the board unbootable where the single cut did not")) +
                        "; " +
                        (final_ok == doubles
                             ? std::string("every final retry succeeded and verified")
                             : std::to_string(doubles - final_ok) + " final retries did not succeed and verify"));
    }
    return lines;
}

bool sweep_all_verified(const SweepResult& r) {
    for (const json& row : r.points) {
        if (!retried_ok(row) || !row.value("cut", false)) return false;
        for (const json& second : second_cuts(row))
            if (!retried_ok(second) || !second.value("cut", false)) return false;
    }
    return true;
}

std::string sweep_text(const SweepResult& r) {
    char header[256];
    std::snprintf(header, sizeof header, "%9s %10s %-7s %-10s %-17s %-11s %4s  %-8s %-22s %s\n", "operation",
                  "time (s)", "kind", "address", "phase", "section", "done", "bootable", "damaged", "retry");
    std::string out = header;
    for (const json& row : r.points) {
        out += text_cut(row) + "\n";
        for (const json& second : second_cuts(row)) out += "  then cut in the retry:\n" + text_cut(second) + "\n";
    }
    for (const std::string& line : sweep_summary_lines(r)) out += line + "\n";
    return out;
}

std::string sweep_csv(const SweepResult& r) {
    const bool twice = depth(r) >= 2;
    std::string out = "operation,time_us,kind,address,phase,section,done_percent,bootable,damaged,retry,retry_verified";
    if (twice)
        out +=
            ",second_operation,second_time_us,second_kind,second_address,second_phase,second_section,"
            "second_done_percent,second_bootable,second_damaged,final_retry,final_verified";
    out += "\n";
    for (const json& row : r.points) {
        const std::string cut = csv_cut(row);
        out += cut + (twice ? ",,,,,,,,,,," : "") + "\n";
        for (const json& second : second_cuts(row)) out += cut + "," + csv_cut(second) + "\n";
    }
    json s = sweep_summary(r);
    const json& w = s["window"];
    std::ostringstream footer;
    footer << "# summary,cut_points,not_bootable,retries_verified,update_us,first_op,last_op,first_us,last_us,"
              "seconds,share\n# summary,"
           << s["cut_points"].get<size_t>() << ',' << s["not_bootable"].get<size_t>() << ','
           << s["retries_verified"].get<size_t>() << ',' << r.update_us;
    if (w.is_object())
        footer << ',' << w["first_op"].get<uint64_t>() << ',' << w["last_op"].get<uint64_t>() << ','
               << w["first_us"].dump() << ',' << w["last_us"].dump() << ',' << w["seconds"].dump() << ','
               << w["share"].dump() << "\n";
    else
        footer << ",,,,,,\n";
    for (const std::string& line : sweep_summary_lines(r)) footer << "# " << line << "\n";
    return out + footer.str();
}

json sweep_json(const SweepResult& r) {
    return {{"image", r.image},           {"module", r.module},
            {"inputs", r.inputs},         {"flash_operations", r.flash_operations},
            {"update_us", r.update_us},   {"seed", r.inputs.value("seed", uint64_t{1})},
            {"shard", r.shard},           {"points", r.points},
            {"summary", sweep_summary(r)}};
}

bool sweep_from_json(const json& j, SweepResult* r, std::string* error) {
    if (!j.is_object() || !j.contains("points") || !j["points"].is_array() || !j.contains("inputs") ||
        !j["inputs"].is_object()) {
        *error = "no sweep table (points and inputs missing)";
        return false;
    }
    try {
        r->image = j.value("image", "");
        r->module = j.value("module", "");
        r->inputs = j["inputs"];
        r->flash_operations = j.value("flash_operations", uint64_t{0});
        r->update_us = j.value("update_us", uint64_t{0});
        r->shard = j.value("shard", "1/1");
        r->points = j["points"];
    } catch (const json::exception& e) {
        *error = std::string("no sweep table: ") + e.what();
        return false;
    }
    return true;
}

bool write_sweep_files(const SweepResult& r, const SweepFiles& files, std::string* error) {
    if (!files.csv.empty() && !write_output_file(files.csv, sweep_csv(r), error)) return false;
    if (!files.json.empty() && !write_output_file(files.json, sweep_json(r).dump(2) + "\n", error)) return false;
    if (!files.svg.empty() && !write_output_file(files.svg, sweep_svg(r), error)) return false;
    return true;
}
