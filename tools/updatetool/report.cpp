#include "tools/updatetool/report.h"

#include <cstdio>

std::string job_of_command_line(const std::string& c) {
    if (c.empty() || c[0] != '/') return "main-dialog";
    if (c.size() < 2) return "none";
    switch (c[1]) {
        case 'u': return "update";
        case 'f': return "save-registry";
        case 'c': return "clear-registry";
        case 'r': return "reboot";
        default: return "none";
    }
}

static bool any_box(const std::vector<ReportedMessageBox>& boxes, const std::string& caption,
                    const std::string& answer) {
    for (const ReportedMessageBox& b : boxes)
        if (b.caption == caption && (answer.empty() || b.answer == answer)) return true;
    return false;
}

std::string RunReport::outcome() const {
    if (job == "update" || (job == "main-dialog" && update_started)) {
        if (abort_requested) return "aborted";
        if (worker_result && *worker_result == 1) return "success";
        if (any_box(message_boxes, "WARNING", "cancel")) return "declined";
        if (!update_started && !any_box(message_boxes, "ERROR", "") && !any_box(message_boxes, "ERRER", ""))
            return "declined";  // the file dialog was cancelled
        return "failure";
    }
    if (job == "save-registry" || job == "clear-registry") {
        if (registry_result) return *registry_result ? "success" : "failure";
        for (const ReportedMessageBox& b : message_boxes)
            if (b.caption == "Registry") return b.text.find("FAILED") == std::string::npos ? "success" : "failure";
        return "failure";
    }
    if (job == "reboot") return !reboot.empty() && !reboot_returned ? "success" : "failure";
    return "success";
}

std::string json_quote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string RunReport::to_json() const {
    std::string j = "{\n";
    j += "  \"job\": " + json_quote(job) + ",\n";
    j += "  \"command_line\": " + json_quote(command_line) + ",\n";
    j += "  \"module\": " + json_quote(module_dir) + ",\n";
    j += "  \"outcome\": " + json_quote(outcome()) + ",\n";
    j += "  \"message_boxes\": [";
    for (size_t i = 0; i < message_boxes.size(); ++i) {
        const ReportedMessageBox& b = message_boxes[i];
        j += i ? ",\n    " : "\n    ";
        j += "{\"caption\": " + json_quote(b.caption) + ", \"text\": " + json_quote(b.text) +
             ", \"answer\": " + json_quote(b.answer) + "}";
    }
    j += message_boxes.empty() ? "],\n" : "\n  ],\n";
    j += "  \"bytes_erased\": " + std::to_string(bytes_erased) + ",\n";
    j += "  \"bytes_written\": " + std::to_string(bytes_written) + ",\n";
    char ms[64];
    std::snprintf(ms, sizeof ms, "%.3f", static_cast<double>(virtual_time_ns) / 1e6);
    j += "  \"virtual_time_ms\": " + std::string(ms) + ",\n";
    j += "  \"reboot\": " + (reboot.empty() ? std::string("null") : json_quote(reboot)) + "\n";
    j += "}\n";
    return j;
}
