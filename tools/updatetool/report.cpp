#include "tools/updatetool/report.h"

#include <nlohmann/json.hpp>

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

std::string RunReport::to_json() const {
    nlohmann::ordered_json boxes = nlohmann::ordered_json::array();
    for (const ReportedMessageBox& b : message_boxes)
        boxes.push_back({{"caption", b.caption}, {"text", b.text}, {"answer", b.answer}});
    nlohmann::ordered_json j = {
        {"job", job},
        {"command_line", command_line},
        {"module", module_dir},
        {"outcome", outcome()},
        {"message_boxes", boxes},
        {"bytes_erased", bytes_erased},
        {"bytes_written", bytes_written},
        // Milliseconds to the microsecond.
        {"virtual_time_ms", static_cast<double>(virtual_time_ns / 1000u) / 1000.0},
        {"reboot", reboot.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(reboot)},
    };
    // Texts the module shows are UTF-8; anything else is replaced, not thrown.
    return j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}
