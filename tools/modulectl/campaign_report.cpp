#include "tools/modulectl/campaign_report.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "tools/common/xml_text.h"

namespace fs = std::filesystem;
using json = CampaignJson;

namespace {

json read_json(const fs::path& path) {
    std::ifstream in(path);
    json j = json::parse(in, nullptr, false);
    return j.is_discarded() ? json(nullptr) : j;
}

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// What the update came to, as the plan names outcomes: a failure that
// changed no flash refused the image.
std::string outcome_of(const json& update) {
    std::string outcome = update.value("outcome", "error");
    if (outcome == "usage") return "error";
    if (outcome != "failure") return outcome;
    bool untouched = update.value("bytes_erased", uint64_t{0}) == 0 && update.value("bytes_written", uint64_t{0}) == 0;
    return untouched ? "refused" : "failed";
}

std::string bytes_text(uint64_t bytes) {
    char text[32];
    if (bytes >= (1u << 20))
        std::snprintf(text, sizeof text, "%.1f MiB", bytes / 1048576.0);
    else if (bytes >= 1024)
        std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024.0);
    else
        std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
    return text;
}

std::string seconds_text(const json& seconds) {
    if (!seconds.is_number()) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", seconds.get<double>());
    return text;
}

// The sweep's summary (cut_points, not_bootable, window, retries_verified,
// and at depth 2 the double cuts'), or an empty object.
json summary_of(const json& sweep) {
    const json summary = sweep.is_object() ? sweep.value("summary", json::object()) : json::object();
    return summary.is_object() ? summary : json::object();
}

// An SVG file as an element of the page: without its XML declaration.
std::string inline_svg(const fs::path& path) {
    std::string svg = read_text(path);
    size_t start = svg.find("<svg");
    return start == std::string::npos ? "" : svg.substr(start);
}

std::string csv_field(const json& value) {
    if (value.is_null()) return "";
    if (value.is_boolean()) return value.get<bool>() ? "yes" : "no";
    if (value.is_string()) {
        std::string text = value.get<std::string>();
        if (text.find_first_of(",\"\n") == std::string::npos) return text;
        std::string out = "\"";
        for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
        return out + "\"";
    }
    return value.dump();
}

}  // namespace

json campaign_row(const PlanModule& module, const PlanImage& image, const fs::path& folder, const std::string& name,
                  const ForkedEnd& end) {
    json cell = read_json(folder / "cell.json");
    if (!cell.is_object()) cell = json::object();
    const json update = cell.value("update", json(nullptr));
    const json sweep = cell.value("sweep", json(nullptr));
    std::string outcome = update.is_object() ? outcome_of(update) : "error";
    if (end.kind == ForkedEnd::kTimedOut)
        outcome = "timed out";
    else if (end.kind != ForkedEnd::kExited || end.status != 0)
        outcome = "crashed";
    std::string problem = cell.value("problem", "");
    if (!end.exited() || end.status != 0)
        problem = end.text() + " while " + cell.value("step", std::string("starting")) +
                  (problem.empty() ? "" : "; " + problem);
    const json summary = summary_of(sweep);
    const json window = summary.value("window", json(nullptr));
    auto figure = [&summary](const char* key) { return summary.value(key, json(nullptr)); };
    json verified = nullptr;
    const json verify = update.is_object() ? update.value("verify", json(nullptr)) : json(nullptr);
    if (verify.is_object()) verified = verify.value("matches", false);
    json row = {
        {"module", module.name},
        {"profile", module.profile.empty() ? json(nullptr) : json(module.profile)},
        {"folder", module.folder.empty() ? json(nullptr) : json(module.folder.string())},
        {"image", image.name},
        {"file", image.file.string()},
        {"expect", image.expect},
        {"outcome", outcome},
        {"met", outcome == image.expect},
        {"end", end.text()},
        {"problem", problem},
        {"exit_status", update.is_object() ? update.value("exit_status", -1) : -1},
        {"summary", update.is_object() ? update.value("summary", "") : ""},
        {"device_time_s", update.is_object() ? json(update.value("virtual_time_ms", 0.0) / 1000.0) : json(nullptr)},
        {"bytes_erased", update.is_object() ? update.value("bytes_erased", uint64_t{0}) : uint64_t{0}},
        {"bytes_written", update.is_object() ? update.value("bytes_written", uint64_t{0}) : uint64_t{0}},
        {"verified", verified},
        {"sweep_points", sweep.is_object() ? json(sweep.value("points", json::array()).size()) : json(nullptr)},
        {"not_bootable", figure("not_bootable")},
        {"retries_verified", figure("retries_verified")},
        {"window", window},
        {"window_seconds", window.is_object() ? window.value("seconds", json(nullptr)) : json(nullptr)},
        {"window_share", window.is_object() ? window.value("share", json(nullptr)) : json(nullptr)},
        {"depth", image.sweep ? json(image.depth) : json(nullptr)},
        {"double_cuts", figure("double_cuts")},
        {"unbootable_only_after_double_cut", figure("unbootable_only_after_double_cut")},
        {"final_retries_verified", figure("final_retries_verified")},
        {"wall_seconds", end.seconds},
        {"folder_in_report", name},
        {"map", cell.value("map", json(nullptr)).is_string() ? json(name + "/map.svg") : json(nullptr)},
        {"strip", cell.value("strip", json(nullptr)).is_string() ? json(name + "/strip.svg") : json(nullptr)},
        {"sweep_summary", cell.value("sweep_summary_lines", json::array())},
        {"prerequisites", cell.value("prerequisites", json::array())},
        {"update", update},
        {"sweep", sweep},
    };
    return row;
}

std::string row_sentence(const json& row) {
    std::string text = row["outcome"].get<std::string>() + " (expected " + row["expect"].get<std::string>() + ")";
    if (row["device_time_s"].is_number())
        text += "; " + seconds_text(row["device_time_s"]) + " on the board, " +
                bytes_text(row["bytes_written"].get<uint64_t>()) + " written";
    if (row["sweep_points"].is_number()) {
        text += "; " + std::to_string(row["sweep_points"].get<size_t>()) + " cuts, ";
        const uint64_t bricked = row["not_bootable"].is_number() ? row["not_bootable"].get<uint64_t>() : 0;
        text += row["window"].is_object()
                    ? "unbootable window " + seconds_text(row["window_seconds"]) + " (" +
                          std::to_string(static_cast<int>(row["window_share"].get<double>() * 100 + 0.5)) +
                          "% of the update)"
                : bricked ? std::to_string(bricked) + " leave it unbootable"
                          : "no cut bricks";
    }
    if (!row["problem"].get<std::string>().empty()) text += "; " + row["problem"].get<std::string>();
    return text;
}

json campaign_json(const CampaignPlan& plan, const json& rows) {
    size_t met = 0;
    for (const json& r : rows) met += r["met"].get<bool>();
    json modules = json::array(), images = json::array();
    for (const PlanModule& m : plan.modules) modules.push_back(m.name);
    for (const PlanImage& i : plan.images) images.push_back(i.name);
    return {{"plan", plan.source.string()},
            {"modules", modules},
            {"images", images},
            {"cells_total", rows.size()},
            {"cells_met", met},
            {"all_met", met == rows.size()},
            {"cells", rows}};
}

std::string campaign_csv(const json& rows) {
    static const char* const kColumns[] = {"module",
                                           "image",
                                           "expect",
                                           "outcome",
                                           "met",
                                           "exit_status",
                                           "device_time_s",
                                           "bytes_erased",
                                           "bytes_written",
                                           "verified",
                                           "sweep_points",
                                           "not_bootable",
                                           "retries_verified",
                                           "window_seconds",
                                           "window_share",
                                           "depth",
                                           "double_cuts",
                                           "unbootable_only_after_double_cut",
                                           "final_retries_verified",
                                           "end",
                                           "wall_seconds",
                                           "problem"};
    std::string csv;
    for (const char* c : kColumns) csv += std::string(csv.empty() ? "" : ",") + c;
    csv += "\n";
    for (const json& r : rows) {
        std::string line;
        for (const char* c : kColumns) line += std::string(line.empty() ? "" : ",") + csv_field(r[c]);
        csv += line + "\n";
    }
    return csv;
}

std::string campaign_html(const CampaignPlan& plan, const json& rows, const fs::path& report) {
    size_t met = 0;
    for (const json& r : rows) met += r["met"].get<bool>();
    std::ostringstream h;
    const std::string title = "Campaign " + plan.source.filename().string();
    h << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" << xml_escaped(title)
      << "</title>\n<style>\n"
      << "body { font-family: sans-serif; margin: 1.5em; color: #222; }\n"
      << "table.c-matrix { border-collapse: collapse; }\n"
      << "table.c-matrix th, table.c-matrix td { border: 1px solid #999; padding: 0.4em 0.6em; vertical-align: top; }\n"
      << "td.c-met { background: #d5f5d5; } td.c-unmet { background: #f8d0d0; }\n"
      << "td .c-outcome { font-weight: bold; } td .c-figure { display: block; font-size: 0.9em; }\n"
      << "section.c-cell { margin-top: 2em; border-top: 2px solid #999; }\n"
      << "section.c-cell svg { max-width: 100%; height: auto; }\n"
      << "</style>\n</head>\n<body>\n<h1>" << xml_escaped(title) << "</h1>\n<p class=\"c-summary\">" << met << " of "
      << rows.size() << " cells met their expectation.</p>\n";
    h << "<table class=\"c-matrix\">\n<tr><th>module</th>";
    for (const PlanImage& i : plan.images)
        h << "<th>" << xml_escaped(i.name) << "<br><small>expect " << xml_escaped(i.expect) << "</small></th>";
    h << "</tr>\n";
    size_t index = 0;
    for (const PlanModule& m : plan.modules) {
        h << "<tr><th>" << xml_escaped(m.name) << "</th>";
        for (size_t i = 0; i < plan.images.size(); ++i, ++index) {
            const json& r = rows[index];
            h << "<td class=\"c-cell " << (r["met"].get<bool>() ? "c-met" : "c-unmet") << "\"><a href=\"#cell-" << index
              << "\" class=\"c-outcome\">" << xml_escaped(r["outcome"].get<std::string>()) << "</a>"
              << "<span class=\"c-figure\">device time " << seconds_text(r["device_time_s"]) << "</span>"
              << "<span class=\"c-figure\">" << bytes_text(r["bytes_erased"].get<uint64_t>()) << " erased, "
              << bytes_text(r["bytes_written"].get<uint64_t>()) << " written</span>"
              << "<span class=\"c-figure\">window "
              << (r["window"].is_object()         ? seconds_text(r["window_seconds"])
                  : r["sweep_points"].is_number() ? std::string("none")
                                                  : std::string("not swept"))
              << "</span></td>";
        }
        h << "</tr>\n";
    }
    h << "</table>\n";
    index = 0;
    for (const json& r : rows) {
        h << "<section class=\"c-cell\" id=\"cell-" << index++ << "\">\n<h2>"
          << xml_escaped(r["module"].get<std::string>()) << " / " << xml_escaped(r["image"].get<std::string>())
          << "</h2>\n<p>" << xml_escaped(row_sentence(r)) << "</p>\n";
        if (!r["summary"].get<std::string>().empty())
            h << "<p><code>" << xml_escaped(r["summary"].get<std::string>()) << "</code></p>\n";
        for (const json& line : r["sweep_summary"]) h << "<p class=\"c-sweep\">" << xml_escaped(line) << "</p>\n";
        for (const char* picture : {"strip", "map"}) {
            if (!r[picture].is_string()) continue;
            h << "<div class=\"c-" << picture << "\">\n"
              << inline_svg(report / r[picture].get<std::string>()) << "</div>\n";
        }
        h << "</section>\n";
    }
    h << "</body>\n</html>\n";
    return h.str();
}
