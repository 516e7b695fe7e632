#include "tools/modulectl/sweep_svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <vector>

#include "tools/common/xml_text.h"

using json = nlohmann::ordered_json;

namespace {

const char* const kBootable = "#2e7d32";
const char* const kNotBootable = "#c62828";
const char* const kRetryFailed = "#6a1b9a";

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", v);
    return text;
}

struct Strip {
    double left, right, update_us;
    double x(double us) const {
        double share = update_us > 0 ? std::clamp(us / update_us, 0.0, 1.0) : 0.0;
        return left + share * (right - left);
    }
};

// The point's state: what colours its mark.
const char* state_of(const json& row) {
    bool ok = row.value("problem", std::string()).empty() && row.value("retry_exit_status", -1) == 0 &&
              row.value("retry_verified", false);
    if (!ok) return "retry-failed";
    return row.value("bootable", false) ? "bootable" : "not-bootable";
}

const char* colour_of(const std::string& state) {
    return state == "bootable" ? kBootable : state == "not-bootable" ? kNotBootable : kRetryFailed;
}

// Runs of points that share the key's value, each from halfway to the
// point before to halfway to the point after (the first from the start, the
// last to the end): the update's phases or sections as the cuts found them.
void bands(std::ostringstream& svg, const Strip& strip, const json& points, const char* key, const char* name, double y,
           double height) {
    svg << "<g class=\"band " << name << "\">\n";
    svg << "<text x=\"" << number(strip.left - 6) << "\" y=\"" << number(y + height - 4)
        << "\" text-anchor=\"end\" font-size=\"11\">" << name << "</text>\n";
    size_t start = 0, drawn = 0;
    for (size_t i = 1; i <= points.size(); ++i) {
        const std::string value = points[start].value(key, std::string());
        if (i < points.size() && points[i].value(key, std::string()) == value) continue;
        double from =
            start == 0 ? 0.0 : (points[start - 1].value("time_us", 0.0) + points[start].value("time_us", 0.0)) / 2;
        double to = i == points.size() ? strip.update_us
                                       : (points[i - 1].value("time_us", 0.0) + points[i].value("time_us", 0.0)) / 2;
        double x0 = strip.x(from), x1 = strip.x(to);
        const std::string label = value.empty() ? "-" : value;
        svg << "<rect x=\"" << number(x0) << "\" y=\"" << number(y) << "\" width=\"" << number(std::max(x1 - x0, 0.5))
            << "\" height=\"" << number(height) << "\" fill=\"" << (drawn++ % 2 ? "#e3e8ef" : "#cfd8e3")
            << "\" stroke=\"#ffffff\"><title>" << name << " " << xml_escaped(label) << "</title></rect>\n";
        // A name only where it fits (about 6.5 pixels a letter).
        if (x1 - x0 > 6.5 * static_cast<double>(label.size()) + 6)
            svg << "<text x=\"" << number((x0 + x1) / 2) << "\" y=\"" << number(y + height - 4)
                << "\" text-anchor=\"middle\" font-size=\"11\">" << xml_escaped(label) << "</text>\n";
        start = i;
    }
    svg << "</g>\n";
}

// A step of 1, 2 or 5 times a power of ten giving four to ten ticks.
double tick_step(double seconds) {
    if (seconds <= 0) return 1;
    double step = std::pow(10.0, std::floor(std::log10(seconds)));
    for (double f : {0.1, 0.2, 0.5, 1.0})
        if (seconds / (step * f) <= 10) return step * f;
    return step;
}

}  // namespace

std::string sweep_svg(const SweepResult& r, int width) {
    const double height = 236;
    const Strip strip{80, static_cast<double>(width) - 20, static_cast<double>(r.update_us)};
    const double top = 58, strip_height = 44;
    const json summary = sweep_summary(r);
    std::ostringstream svg;
    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"sweep\" width=\"" << width << "\" height=\""
        << number(height) << "\" viewBox=\"0 0 " << width << " " << number(height)
        << "\" font-family=\"sans-serif\">\n";
    svg << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    const std::string title = "sweep of " + r.image + " on " + r.module + ": " + std::to_string(r.points.size()) +
                              " cut points in " + std::to_string(r.flash_operations) + " flash operations";
    svg << "<text x=\"10\" y=\"20\" font-size=\"14\" font-weight=\"bold\">" << xml_escaped(title) << "</text>\n";
    const std::vector<std::string> lines = sweep_summary_lines(r);
    svg << "<text x=\"10\" y=\"38\" font-size=\"12\">" << xml_escaped(lines.size() > 1 ? lines[1] : "") << "</text>\n";

    // The update's time, and the window over it.
    svg << "<rect class=\"update\" x=\"" << number(strip.left) << "\" y=\"" << number(top) << "\" width=\""
        << number(strip.right - strip.left) << "\" height=\"" << number(strip_height)
        << "\" fill=\"#f4f4f4\" stroke=\"#999999\"/>\n";
    if (summary["window"].is_object()) {
        const json& w = summary["window"];
        double x0 = strip.x(w["first_us"].get<double>()), x1 = strip.x(w["last_us"].get<double>());
        if (x1 - x0 < 3) {
            x0 -= 1.5;
            x1 += 1.5;
        }
        svg << "<rect class=\"window\" x=\"" << number(x0) << "\" y=\"" << number(top - 6) << "\" width=\""
            << number(x1 - x0) << "\" height=\"" << number(strip_height + 12)
            << "\" fill=\"#c62828\" fill-opacity=\"0.12\" stroke=\"#c62828\" stroke-dasharray=\"4 2\"><title>"
            << xml_escaped(lines.size() > 1 ? lines[1] : "") << "</title></rect>\n";
        svg << "<text x=\"" << number(x0) << "\" y=\"" << number(top - 9)
            << "\" font-size=\"11\" fill=\"#c62828\">window: "
            << xml_escaped(device_time_text(w["seconds"].get<double>())) << "</text>\n";
    }
    svg << "<g class=\"marks\">\n";
    for (const json& row : r.points) {
        const std::string state = state_of(row);
        const double x = strip.x(row.value("time_us", 0.0));
        char what[256];
        std::snprintf(what, sizeof what, "operation %llu at %s: %s %s in %s, %s",
                      static_cast<unsigned long long>(row.value("operation", uint64_t{0})),
                      device_time_text(row.value("time_us", 0.0) / 1e6).c_str(),
                      row.value("kind", std::string()).c_str(), row.value("phase", std::string()).c_str(),
                      row.value("section", std::string()).c_str(), state.c_str());
        svg << "<rect class=\"mark " << state << "\" x=\"" << number(x - 1) << "\" y=\"" << number(top + 4)
            << "\" width=\"2\" height=\"" << number(strip_height - 8) << "\" fill=\"" << colour_of(state)
            << "\"><title>" << xml_escaped(what) << "</title></rect>\n";
    }
    svg << "</g>\n";

    bands(svg, strip, r.points, "phase", "phase", top + strip_height + 8, 18);
    bands(svg, strip, r.points, "section", "section", top + strip_height + 30, 18);

    // The time axis, in seconds of device time.
    const double axis = top + strip_height + 56;
    const double seconds = static_cast<double>(r.update_us) / 1e6;
    svg << "<g class=\"axis\" font-size=\"10\">\n<line x1=\"" << number(strip.left) << "\" y1=\"" << number(axis)
        << "\" x2=\"" << number(strip.right) << "\" y2=\"" << number(axis) << "\" stroke=\"#333333\"/>\n";
    const double step = tick_step(seconds);
    for (int i = 0; step * i <= seconds * 1.0000001 && i <= 20; ++i) {
        const double x = strip.x(step * i * 1e6);
        char label[32];
        std::snprintf(label, sizeof label, "%g s", step * i);
        svg << "<line x1=\"" << number(x) << "\" y1=\"" << number(axis) << "\" x2=\"" << number(x) << "\" y2=\""
            << number(axis + 4) << "\" stroke=\"#333333\"/><text x=\"" << number(x) << "\" y=\"" << number(axis + 15)
            << "\" text-anchor=\"middle\">" << label << "</text>\n";
    }
    svg << "<text x=\"" << number(strip.right) << "\" y=\"" << number(axis + 28)
        << "\" text-anchor=\"end\">device time of the update (" << xml_escaped(device_time_text(seconds))
        << ", verify included)</text>\n</g>\n";

    // The legend.
    svg << "<g class=\"legend\" font-size=\"11\">\n";
    double x = 10;
    for (const char* state : {"bootable", "not-bootable", "retry-failed"}) {
        const std::string text = std::string(state) == "bootable"       ? "bootable after the cut"
                                 : std::string(state) == "not-bootable" ? "not bootable after the cut"
                                                                        : "retry did not succeed and verify";
        svg << "<rect x=\"" << number(x) << "\" y=\"" << number(height - 20) << "\" width=\"10\" height=\"10\" fill=\""
            << colour_of(state) << "\"/><text x=\"" << number(x + 14) << "\" y=\"" << number(height - 11) << "\">"
            << text << "</text>\n";
        x += 20 + 6.2 * static_cast<double>(text.size());
    }
    svg << "</g>\n</svg>\n";
    return svg.str();
}
