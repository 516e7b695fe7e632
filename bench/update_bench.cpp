// Times a full update on a simulated module against copying the same bytes
// with cp, in the same run, and reports the update's virtual device time and
// peak memory. Each case runs three times on a fresh module; the best wall
// times are compared.
//
//   update_bench [--only NAME] [--runs N] [--keep DIR]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

namespace {

struct Case {
    const char* name;
    const char* profile;
    uint32_t image_bytes;
    double goal_ratio;
};

const Case kCases[] = {
    {"pxa270-32MiB", "pxa270", 32u << 20, 3.0},
    {"pxa300-f1ec-120MiB", "pxa300-f1ec", 120u << 20, 5.0},
};

std::string tool(const char* name) { return std::string(UPDATETOOL_BINARY_DIR) + "/" + name; }

struct RunResult {
    double seconds;
    long peak_kib;
    int status;
};

// Runs argv, waiting for it; returns the wall time and the child's peak RSS.
RunResult run(const std::vector<std::string>& argv, bool quiet) {
    auto start = std::chrono::steady_clock::now();
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        if (quiet) {
            FILE* null = std::freopen("/dev/null", "w", stdout);
            (void)null;
        }
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return {seconds, usage.ru_maxrss, status};
}

// Appends one record (address, length, byte sum, data).
void put_record(std::ofstream& f, uint32_t address, const std::vector<uint8_t>& data) {
    uint32_t sum = 0;
    for (uint8_t b : data) sum += b;
    uint32_t head[3] = {address, static_cast<uint32_t>(data.size()), sum};
    f.write(reinterpret_cast<const char*>(head), sizeof head);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// An image of the given size at flash offset 0 (start 0 is not translated),
// in 1 MiB records of pseudo-random bytes.
void write_image(const fs::path& path, uint32_t bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write("B000FF\n", 7);
    uint32_t header[2] = {0, bytes};
    f.write(reinterpret_cast<const char*>(header), sizeof header);
    std::mt19937 random(12345);
    std::vector<uint8_t> data(1u << 20);
    for (uint32_t at = 0; at < bytes; at += data.size()) {
        for (uint8_t& b : data) b = static_cast<uint8_t>(random());
        put_record(f, at, data);
    }
    uint32_t end[3] = {0, 0, 0};
    f.write(reinterpret_cast<const char*>(end), sizeof end);
}

// One field of the update's report as text ("?" when the report is missing).
std::string report_field(const fs::path& report, const char* key) {
    std::ifstream f(report);
    nlohmann::json j = nlohmann::json::parse(f, nullptr, false);
    if (j.is_discarded() || !j.contains(key)) return "?";
    return j[key].is_string() ? j[key].get<std::string>() : j[key].dump();
}

}  // namespace

int main(int argc, char** argv) {
    std::string only;
    int runs = 3;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--only") && i + 1 < argc)
            only = argv[++i];
        else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "usage: update_bench [--only NAME] [--runs N]\n");
            return 2;
        }
    }
    fs::path work = fs::temp_directory_path() / ("update-bench-" + std::to_string(getpid()));
    fs::create_directories(work);
    int failures = 0;
    for (const Case& c : kCases) {
        if (!only.empty() && only != c.name) continue;
        fs::path image = work / (std::string(c.name) + ".bin");
        write_image(image, c.image_bytes);
        double best_cp = 1e9, best_update = 1e9;
        long peak = 0;
        std::string device_ms = "?", outcome = "?";
        for (int r = 0; r < runs; ++r) {
            fs::path copy = work / "copy.bin";
            fs::remove(copy);
            RunResult cp = run({"/bin/cp", image.string(), copy.string()}, true);
            best_cp = std::min(best_cp, cp.seconds);
            fs::remove(copy);

            fs::path module = work / "module";
            fs::remove_all(module);
            RunResult made = run({tool("modulectl"), "create", module.string(), "--profile", c.profile}, true);
            if (made.status != 0) {
                std::fprintf(stderr, "%s: cannot create a %s module\n", c.name, c.profile);
                ++failures;
                break;
            }
            fs::path report = work / "report.json";
            RunResult update = run(
                {tool("updatetool"), "--module", module.string(), "--report", report.string(), "/u", image.string()},
                true);
            best_update = std::min(best_update, update.seconds);
            peak = std::max(peak, update.peak_kib);
            device_ms = report_field(report, "virtual_time_ms");
            outcome = report_field(report, "outcome");
        }
        double ratio = best_update / best_cp;
        std::printf("%s: image %u MiB\n", c.name, c.image_bytes >> 20);
        std::printf("  cp                 %8.3f s\n", best_cp);
        std::printf("  update             %8.3f s   (%s)\n", best_update, outcome.c_str());
        std::printf("  ratio              %8.2f x   (goal <= %.0f x)\n", ratio, c.goal_ratio);
        std::printf("  virtual device time %s ms\n", device_ms.c_str());
        std::printf("  peak memory        %8.1f MiB (goal < 64 MiB)\n", peak / 1024.0);
        if (outcome != "success") ++failures;
    }
    fs::remove_all(work);
    return failures ? 1 : 0;
}
