#include "tools/modulectl/campaign_command.h"

#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>

#include "tools/common/cli.h"
#include "tools/common/forked_call.h"
#include "tools/common/output_file.h"
#include "tools/modulectl/campaign_cell.h"
#include "tools/modulectl/campaign_report.h"

namespace fs = std::filesystem;

namespace {

volatile sig_atomic_t interrupted = 0;

void on_interrupt(int) { interrupted = 1; }

// A cell's folder in the report: its number, module and image.
std::string cell_name(size_t index, const PlanModule& m, const PlanImage& i) {
    std::string name = std::to_string(index + 1) + "-" + m.name + "-" + i.name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') c = '_';
    return name;
}

// DIR may be new, an empty folder or an earlier campaign's report.
bool may_replace(const fs::path& dir, std::string* error) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(dir, ec))) return true;
    if (fs::is_directory(fs::symlink_status(dir, ec)) &&
        (fs::is_empty(dir, ec) || fs::is_regular_file(dir / "report.json", ec)))
        return true;
    *error = dir.string() + " is neither new, nor empty, nor a campaign's report";
    return false;
}

std::string duration_text(double seconds) {
    char text[32];
    if (seconds < 60)
        std::snprintf(text, sizeof text, "%.1f s", seconds);
    else
        std::snprintf(text, sizeof text, "%d:%02d", static_cast<int>(seconds) / 60, static_cast<int>(seconds) % 60);
    return text;
}

// The report made whole under the name DIR; an old report there is removed
// only after.
bool put_in_place(const fs::path& partial, const fs::path& dir, std::string* error) {
    std::error_code ec;
    fs::path old;
    if (fs::exists(dir, ec)) {
        old = dir.parent_path() / ("." + dir.filename().string() + ".old-" + std::to_string(::getpid()));
        fs::rename(dir, old, ec);
        if (ec) {
            *error = "cannot replace " + dir.string() + ": " + ec.message();
            return false;
        }
    }
    fs::rename(partial, dir, ec);
    if (ec) {
        *error = "cannot rename the report to " + dir.string() + ": " + ec.message();
        if (!old.empty()) fs::rename(old, dir, ec);
        return false;
    }
    if (!old.empty()) fs::remove_all(old, ec);
    return true;
}

}  // namespace

int run_campaign(const CampaignOptions& o) {
    CampaignPlan plan;
    std::string error;
    if (!read_campaign_plan(o.plan, &plan, &error)) {
        std::fprintf(stderr, "modulectl campaign: %s\n", error.c_str());
        return cli::kUsage;
    }
    fs::path dir = fs::absolute(fs::path(o.out)).lexically_normal();
    if (dir.filename().empty()) dir = dir.parent_path();
    if (!may_replace(dir, &error)) {
        std::fprintf(stderr, "modulectl campaign: %s\n", error.c_str());
        return cli::kUsage;
    }
    const std::string pid = std::to_string(::getpid());
    const fs::path partial = dir.parent_path() / ("." + dir.filename().string() + ".partial-" + pid);
    std::error_code ec;
    const fs::path temp = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path work = temp / ("modulectl-campaign-" + pid);
    fs::create_directories(partial, ec);
    if (ec) {
        std::fprintf(stderr, "modulectl campaign: cannot make %s: %s\n", partial.c_str(), ec.message().c_str());
        return cli::kUsage;
    }

    struct sigaction action = {}, previous = {};
    action.sa_handler = on_interrupt;
    ::sigaction(SIGINT, &action, &previous);
    const size_t total = plan.modules.size() * plan.images.size();
    CampaignJson rows = CampaignJson::array();
    double wall = 0;
    size_t index = 0;
    for (const PlanModule& module : plan.modules) {
        for (const PlanImage& image : plan.images) {
            if (interrupted) break;
            const std::string name = cell_name(index, module, image);
            CellRun cell{&plan, &module, &image, partial / name, work / name, o.modulectl_main};
            fs::create_directories(cell.folder, ec);
            const fs::path log = cell.folder / "log.txt";
            ForkedEnd end = run_forked(
                [&cell, &log] {
                    // The cell's tools talk to its log, not to the campaign's terminal.
                    if (!std::freopen(log.c_str(), "w", stdout)) return 1;
                    ::dup2(::fileno(stdout), 2);
                    return run_campaign_cell(cell);
                },
                image.timeout > 0 ? image.timeout : plan.timeout, [] { return interrupted != 0; });
            fs::remove_all(cell.work, ec);
            if (interrupted) break;
            CampaignJson row = campaign_row(module, image, cell.folder, name, end);
            wall += end.seconds;
            ++index;
            const double left = wall / static_cast<double>(index) * static_cast<double>(total - index);
            std::fprintf(stderr, "modulectl campaign: cell %zu of %zu, %s / %s: %s; %s, %s left\n", index, total,
                         module.name.c_str(), image.name.c_str(), row_sentence(row).c_str(),
                         duration_text(end.seconds).c_str(), duration_text(left).c_str());
            rows.push_back(row);
        }
    }
    ::sigaction(SIGINT, &previous, nullptr);
    fs::remove_all(work, ec);
    if (interrupted) {
        fs::remove_all(partial, ec);
        std::fprintf(stderr, "modulectl campaign: interrupted after %zu of %zu cells; %s is as it was\n", index, total,
                     dir.c_str());
        return 130;
    }

    const CampaignJson report = campaign_json(plan, rows);
    if (!write_output_file(partial / "report.json", report.dump(2) + "\n", &error) ||
        !write_output_file(partial / "report.csv", campaign_csv(rows), &error) ||
        !write_output_file(partial / "index.html", campaign_html(plan, rows, partial), &error) ||
        !put_in_place(partial, dir, &error)) {
        fs::remove_all(partial, ec);
        std::fprintf(stderr, "modulectl campaign: %s\n", error.c_str());
        return cli::kUsage;
    }
    const size_t met = report["cells_met"].get<size_t>();
    std::printf("%zu of %zu cells met their expectation; the report is %s/index.html\n", met, total, o.out.c_str());
    return met == total ? 0 : cli::kFailure;
}
