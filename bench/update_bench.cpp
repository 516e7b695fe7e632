// Times a full update on a new simulated module against copying the same
// bytes with cp, in the same run: CPU time (user + system) and wall time of
// each, their ratios, the update's virtual device time against the chips'
// physical limit, and the update's peak memory. Each case runs several times,
// cp and the update taking turns; the figures are the medians.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench/physical_limit.h"
#include "bench/timed_run.h"
#include "module/config.h"
#include "tools/common/cli.h"

namespace fs = std::filesystem;

namespace {

using bench::median;
using bench::print_machine;
using bench::run;
using bench::Run;

struct Case {
    const char* name;
    const char* profile;
    uint32_t start;  // flash offset of the image
    uint32_t image_bytes;
    double goal_ratio;
};

// The NAND image leaves the boot area alone: it starts where the board puts
// operating-system images.
const Case kCases[] = {
    {"pxa270-32MiB", "pxa270", 0, 32u << 20, 3.0},
    {"pxa300-f1ec-120MiB", "pxa300-f1ec", 0x80000, 120u << 20, 5.0},
};
constexpr double kGoalVirtualRatio = 1.10;
constexpr double kGoalPeakMiB = 64;

// Where the tools come from: this build's, or another build's (--tools).
std::string tools_dir = UPDATETOOL_BINARY_DIR;

std::string tool(const char* name) { return tools_dir + "/" + name; }

// Appends one record (address, length, byte sum, data).
void put_record(std::ofstream& f, uint32_t address, const std::vector<uint8_t>& data) {
    uint32_t sum = 0;
    for (uint8_t b : data) sum += b;
    uint32_t head[3] = {address, static_cast<uint32_t>(data.size()), sum};
    f.write(reinterpret_cast<const char*>(head), sizeof head);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// An image of flash offsets (not translated) in 1 MiB records of
// pseudo-random bytes (fixed seed).
void write_image(const fs::path& path, uint32_t start, uint32_t bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write("B000FF\n", 7);
    uint32_t header[2] = {start, bytes};
    f.write(reinterpret_cast<const char*>(header), sizeof header);
    std::mt19937 random(12345);
    std::vector<uint8_t> data(1u << 20);
    for (uint32_t at = 0; at < bytes; at += static_cast<uint32_t>(data.size())) {
        for (uint8_t& b : data) b = static_cast<uint8_t>(random());
        put_record(f, start + at, data);
    }
    uint32_t end[3] = {0, 0, 0};
    f.write(reinterpret_cast<const char*>(end), sizeof end);
}

nlohmann::json read_report(const fs::path& report) {
    std::ifstream f(report);
    nlohmann::json j = nlohmann::json::parse(f, nullptr, false);
    return j.is_discarded() ? nlohmann::json::object() : j;
}

// Runs one case; false when an update did not succeed.
bool bench_case(const Case& c, int runs, const fs::path& work) {
    fs::path image = work / (std::string(c.name) + ".bin");
    write_image(image, c.start, c.image_bytes);
    std::vector<double> cp_cpu, cp_wall, cpu, wall, cpu_ratio, wall_ratio;
    double peak = 0, virtual_ms = 0;
    std::string outcome = "?";
    sim::Config profile;
    for (int r = 0; r < runs; ++r) {
        fs::path copy = work / "copy.bin", module = work / "module", report = work / "report.json";
        fs::remove(copy);
        Run cp = run({"/bin/cp", image.string(), copy.string()});
        fs::remove(copy);
        fs::remove_all(module);
        fs::remove(report);
        if (run({tool("modulectl"), "create", module.string(), "--profile", c.profile}).status != 0) {
            std::fprintf(stderr, "%s: cannot create a %s module\n", c.name, c.profile);
            return false;
        }
        std::string error;
        if (r == 0 && !profile.load((module / "module.toml").string(), &error)) {
            std::fprintf(stderr, "%s: %s\n", c.name, error.c_str());
            return false;
        }
        Run update =
            run({tool("updatetool"), "--module", module.string(), "--report", report.string(), "/u", image.string()});
        nlohmann::json j = read_report(report);
        outcome = j.value("outcome", "?");
        virtual_ms = j.value("virtual_time_ms", 0.0);
        cp_cpu.push_back(cp.cpu_seconds);
        cp_wall.push_back(cp.wall_seconds);
        cpu.push_back(update.cpu_seconds);
        wall.push_back(update.wall_seconds);
        cpu_ratio.push_back(update.cpu_seconds / std::max(cp.cpu_seconds, 1e-6));
        wall_ratio.push_back(update.wall_seconds / std::max(cp.wall_seconds, 1e-6));
        peak = std::max(peak, update.peak_mib);
        if (outcome != "success") break;
    }
    std::string error;
    double limit_ms = static_cast<double>(bench::physical_limit_ns(profile, c.start, c.image_bytes, &error)) / 1e6;
    std::printf("%s: %u MiB image at 0x%X on %s, median of %zu runs\n", c.name, c.image_bytes >> 20, c.start, c.profile,
                cpu.size());
    std::printf("  cp        cpu %7.3f s   wall %7.3f s\n", median(cp_cpu), median(cp_wall));
    std::printf("  update    cpu %7.3f s   wall %7.3f s   (%s)\n", median(cpu), median(wall), outcome.c_str());
    std::printf("  ratio     cpu %7.2f x   wall %7.2f x   (goal: cpu <= %.0f x)\n", median(cpu_ratio),
                median(wall_ratio), c.goal_ratio);
    if (limit_ms > 0)
        std::printf("  virtual   %.3f s, physical limit %.3f s: %.3f x   (goal <= %.2f x)\n", virtual_ms / 1e3,
                    limit_ms / 1e3, virtual_ms / limit_ms, kGoalVirtualRatio);
    else
        std::printf("  virtual   %.3f s, physical limit unknown: %s\n", virtual_ms / 1e3, error.c_str());
    std::printf("  peak memory %6.1f MiB   (goal < %.0f MiB)\n", peak, kGoalPeakMiB);
    return outcome == "success";
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app("Times an update on new simulated modules against cp of the same bytes.", "update_bench");
    std::string only;
    int runs = 5;
    app.add_option("--only", only, "run one case")->check(cli::one_of({kCases[0].name, kCases[1].name}));
    cli::add_number(app, "--runs", &runs, 100, "runs per case (default 5); the figures are the medians");
    app.add_option("--tools", tools_dir, "run the updatetool and modulectl of another build (default: this one's)")
        ->check(CLI::ExistingDirectory)
        ->type_name("DIR");
    cli::prepare(app, "Exit status: 0 every update succeeded, 1 one did not, 2 the command line was wrong.");
    int status = cli::parse(app, argc, argv);
    if (status >= 0) return status;
    if (runs < 1) runs = 1;

    fs::path work = fs::temp_directory_path() / ("update-bench-" + std::to_string(getpid()));
    fs::create_directories(work);
    print_machine();
    bool ok = true;
    for (const Case& c : kCases)
        if (only.empty() || only == c.name) ok = bench_case(c, runs, work) && ok;
    fs::remove_all(work);
    return ok ? 0 : cli::kFailure;
}
