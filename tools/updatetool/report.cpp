#include "tools/updatetool/report.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "module/ui/line_progress.h"

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

namespace {

const ReportedMessageBox* find_box(const std::vector<ReportedMessageBox>& boxes, const std::string& caption,
                                   const std::string& answer = "") {
    for (const ReportedMessageBox& b : boxes)
        if (b.caption == caption && (answer.empty() || b.answer == answer)) return &b;
    return nullptr;
}

// The error message the update showed, on one line.
std::string error_text(const std::vector<ReportedMessageBox>& boxes) {
    const ReportedMessageBox* box = find_box(boxes, "ERROR");
    if (!box) box = find_box(boxes, "ERRER");
    if (!box) return "";
    std::string text = box->text;
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

bool update_job(const RunReport& r) { return r.job == "update" || (r.job == "main-dialog" && r.update_dialog); }

std::string update_outcome(const RunReport& r) {
    // The reset question comes before the worker's end (answered Yes, it
    // reboots): only a completed update asks it.
    bool completed = r.worker_result ? *r.worker_result == 1
                                     : r.update_started && (!r.reboot.empty() || find_box(r.message_boxes, "RESET"));
    // An abort noticed after the last record came too late to stop anything.
    if (r.abort_requested && !(completed && (r.bytes_erased || r.bytes_written))) return "aborted";
    if (completed) {
        if (r.verify && !r.verify->matches()) return "failure";
        if (r.boot_check && !r.boot_check->bootable) return "failure";
        return r.verify_error.empty() ? "success" : "failure";
    }
    if (find_box(r.message_boxes, "WARNING", "cancel")) return "declined";
    if (!r.update_started && !find_box(r.message_boxes, "ERROR") && !find_box(r.message_boxes, "ERRER"))
        return "declined";  // the file dialog was cancelled
    return "failure";
}

std::string registry_sentence(const RunReport& r, const char* done, const char* failed, const char* box) {
    if (r.job_outcome() == "success") return done;
    const ReportedMessageBox* shown = find_box(r.message_boxes, "Registry");
    return std::string(failed) + (shown ? ": " + shown->text : std::string(": ") + box);
}

}  // namespace

std::string RunReport::job_outcome() const {
    if (!power_cut.empty()) return "power-cut";
    if (job == "none") return "usage";
    if (update_job(*this)) return update_outcome(*this);
    if (job == "save-registry" || job == "clear-registry") {
        if (registry_result) return *registry_result ? "success" : "failure";
        for (const ReportedMessageBox& b : message_boxes)
            if (b.caption == "Registry") return b.text.find("FAILED") == std::string::npos ? "success" : "failure";
        return "failure";
    }
    if (job == "reboot") return !reboot.empty() && !reboot_returned ? "success" : "failure";
    return "success";
}

std::string RunReport::outcome() const {
    if (!power_cut.empty()) return "power-cut";
    if (!usage_error.empty() || !host_error.empty()) return "usage";
    return job_outcome();
}

int RunReport::exit_status() const {
    std::string o = outcome();
    if (o == "success") return 0;
    if (o == "usage") return 2;
    if (o == "declined") return 3;
    if (o == "aborted") return 4;
    if (o == "power-cut") return 5;
    return 1;
}

namespace {

std::string update_sentence(const RunReport& r) {
    const std::string o = update_outcome(r);
    const bool dry = !r.dry_run_scratch.empty();
    const std::string prefix = dry ? "dry run: " : "";
    std::string changed =
        sim::ui::byte_count(r.bytes_erased) + " erased, " + sim::ui::byte_count(r.bytes_written) + " written";
    if (o == "aborted")
        return prefix + (r.bytes_erased || r.bytes_written
                             ? "update aborted: the flash was changed (" + changed + ") and holds no whole image"
                             : "update aborted before anything was erased");
    if (o == "declined")
        return prefix + (find_box(r.message_boxes, "WARNING", "cancel") ? "update declined at the overwrite warning"
                                                                        : "update declined: no image file was chosen");
    if (o == "success")
        return (dry ? "dry run: the update would succeed (" : "update succeeded (") + changed + ")" +
               (r.verify ? "; verified, " + r.verify->summary() : "");
    if (!r.verify_error.empty()) return prefix + "update not verified: " + r.verify_error;
    if (r.boot_check && !r.boot_check->bootable && error_text(r.message_boxes).empty())
        return prefix + "update failed: the module would not boot: " + r.boot_check->reason;
    if (r.verify && !r.verify->matches())
        return prefix + "update failed verification: the flash " + r.verify->summary();
    std::string message = error_text(r.message_boxes);
    return (dry ? "dry run: the update would fail" : "update failed") + (message.empty() ? "" : ": " + message);
}

}  // namespace

std::string RunReport::sentence() const {
    const std::string s = "updatetool: ";
    if (!power_cut.empty()) return s + "power cut: the module stopped in the " + power_cut;
    std::string text;
    if (job == "none")
        text = "the program did nothing: '" + command_line +
               "' is none of its commands (/u PATH, /f, /fu, /c, /cu, /rMS, /rcMS)";
    else if (update_job(*this))
        text = update_sentence(*this);
    else if (job == "save-registry")
        text = registry_sentence(*this, "registry saved to flash", "saving the registry failed",
                                 "the registry flush failed");
    else if (job == "clear-registry")
        text = registry_sentence(*this, "registry in flash cleared", "clearing the registry failed",
                                 "the HAL did not clear it");
    else if (job == "reboot")
        text = job_outcome() == "success" ? reboot + " reboot: the module restarts"
                                          : "reboot failed: the HAL returned from the reboot request";
    else
        text = reboot.empty() ? "main dialog closed" : "main dialog ended with a " + reboot + " reboot";
    // A wrong answer ends the run; an update that ran says first what it did.
    if (!usage_error.empty()) text = update_job(*this) && update_started ? text + "; " + usage_error : usage_error;
    if (!host_error.empty()) text += "; " + host_error;
    if (!violations.empty())
        text += "; " + std::to_string(violations.size()) + " datasheet violation" +
                (violations.size() == 1 ? "" : "s") + " (events.log)";
    return s + text;
}

std::string RunReport::to_json() const {
    using json = nlohmann::ordered_json;
    json boxes = json::array();
    for (const ReportedMessageBox& b : message_boxes)
        boxes.push_back({{"caption", b.caption}, {"text", b.text}, {"answer", b.answer}});
    json failed = nullptr;
    if (failure)
        failed = {{"operation", failure->operation}, {"address", failure->address}, {"chip", failure->chip},
                  {"status", failure->status},       {"meaning", failure->meaning}, {"text", failure->text}};
    json moved = json::array();
    for (const auto& [logical, physical] : relocated) moved.push_back({{"logical", logical}, {"physical", physical}});
    json checked = nullptr;
    if (verify) {
        json pages = json::array();
        for (const sim::PageProblem& p : verify->page_problems) pages.push_back(p.text);
        checked = {{"matches", verify->matches()},
                   {"records", verify->records},
                   {"bytes", verify->bytes},
                   {"differing_bytes", verify->differing},
                   {"first_difference", verify->first_difference ? json(*verify->first_difference) : json(nullptr)},
                   {"ecc_problems", pages}};
    } else if (!verify_error.empty()) {
        checked = {{"error", verify_error}};
    }
    json plan_json = nullptr;
    if (plan) {
        json steps = json::array();
        for (const PlanStep& step : plan->steps) {
            json flash = json::array();
            for (const PlanRange& r : step.flash)
                flash.push_back({{"start", r.start}, {"end", r.end}, {"sections", r.sections}});
            steps.push_back({{"operation", step.operation},
                             {"blocks", {step.first_block, step.last_block}},
                             {"device", {step.device_start, step.device_end}},
                             {"flash", flash},
                             {"place", step.place}});
        }
        json kept = json::array();
        for (const PlanRange& r : plan->kept)
            kept.push_back({{"start", r.start}, {"end", r.end}, {"sections", r.sections}});
        plan_json = {
            {"steps", steps},
            {"kept", kept},
            {"boot_area", {{"written_back", plan->boot_area_written_back}, {"read_back", plan->boot_area_read_back}}}};
    }
    json broken = json::array();
    for (const ReportedViolation& v : violations)
        broken.push_back({{"rule", v.rule}, {"chip", v.chip}, {"address", v.address}, {"text", v.text}});
    json dry_run = nullptr;
    if (!dry_run_scratch.empty()) dry_run = {{"scratch", dry_run_scratch}, {"kept", dry_run_kept}};
    json j = {
        {"job", job},
        {"command_line", command_line},
        {"module", module_dir},
        {"outcome", outcome()},
        {"exit_status", exit_status()},
        {"summary", sentence()},
        {"message_boxes", boxes},
        {"failed_operation", failed},
        {"failed_operations", failed_operations},
        {"nand",
         {{"bad_blocks_found", bad_blocks_found},
          {"relocated", moved},
          {"ecc_corrected", ecc_corrected},
          {"ecc_uncorrectable", ecc_uncorrectable}}},
        {"bytes_erased", bytes_erased},
        {"bytes_written", bytes_written},
        // Milliseconds to the microsecond.
        {"virtual_time_ms", static_cast<double>(virtual_time_ns / 1000u) / 1000.0},
        {"reboot", reboot.empty() ? json(nullptr) : json(reboot)},
        {"verify", checked},
        {"boot_region",
         boot_check ? json({{"bootable", boot_check->bootable}, {"reason", boot_check->reason}}) : json(nullptr)},
        {"unused_answers", unused_answers},
        {"plan", plan_json},
        {"dry_run", dry_run},
        {"power_cut", power_cut.empty() ? json(nullptr) : json(power_cut)},
        {"flash_operations", flash_operations},
        {"datasheet_violations", broken},
    };
    // Texts the module shows are UTF-8; anything else is replaced, not thrown.
    return j.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}
