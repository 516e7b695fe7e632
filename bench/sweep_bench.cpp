// Times what a power-cut sweep costs per cut point against one uncut update
// of the same image on the same module, in the same run: the CPU (user +
// system of the whole process tree) of one updatetool run, and of a sweep
// in memory and a sweep with --processes, less the sweep's own uncut run,
// divided by its points. Each figure is the median of several rounds, the
// three taking turns.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/timed_run.h"
#include "tools/common/cli.h"

namespace fs = std::filesystem;

namespace {

struct Case {
    const char* name;
    const char* profile;
};

// A 192 KiB bootloader at flash offset 0.
const Case kCases[] = {
    {"pxa270 NOR", "pxa270"},
    {"pxa300-f1ec NAND", "pxa300-f1ec"},
};
constexpr double kGoalRatio = 2.0;

std::string tools_dir = UPDATETOOL_BINARY_DIR;
std::string tool(const char* name) { return tools_dir + "/" + name; }

bool bench_case(const Case& c, int rounds, unsigned points, const fs::path& work) {
    const fs::path module = work / "module", copy = work / "copy", image = work / "boot.bin";
    fs::remove_all(module);
    if (bench::run({tool("modulectl"), "create", module.string(), "--profile", c.profile}).status != 0 ||
        bench::run({tool("mkbin"), "-o", image.string(), "--start", "0", "--length", "0x30000", "--fill", "pattern"})
                .status != 0) {
        std::fprintf(stderr, "%s: cannot make the module or the image\n", c.name);
        return false;
    }
    const std::string n = std::to_string(points);
    std::vector<double> update, memory, processes, memory_ratio, processes_ratio;
    for (int r = 0; r < rounds; ++r) {
        fs::remove_all(copy);
        fs::copy(module, copy, fs::copy_options::recursive);
        bench::Run uncut = bench::run({tool("updatetool"), "--module", copy.string(), "-q", "/u " + image.string()});
        bench::Run in_memory = bench::run({tool("modulectl"), "sweep", module.string(), image.string(), "--points", n});
        bench::Run in_processes =
            bench::run({tool("modulectl"), "sweep", module.string(), image.string(), "--points", n, "--processes"});
        // A sweep whose retry fails somewhere (exit status 1) still timed its points.
        auto swept = [](const bench::Run& r) { return WIFEXITED(r.status) && WEXITSTATUS(r.status) <= 1; };
        if (uncut.status != 0 || !swept(in_memory) || !swept(in_processes)) {
            std::fprintf(stderr, "%s: a run failed (%d, %d, %d)\n", c.name, uncut.status, in_memory.status,
                         in_processes.status);
            return false;
        }
        update.push_back(uncut.cpu_seconds);
        memory.push_back((in_memory.cpu_seconds - uncut.cpu_seconds) / points);
        processes.push_back((in_processes.cpu_seconds - uncut.cpu_seconds) / points);
        memory_ratio.push_back(memory.back() / uncut.cpu_seconds);
        processes_ratio.push_back(processes.back() / uncut.cpu_seconds);
    }
    std::printf("%s, 192 KiB bootloader, %u points a sweep, median of %d rounds\n", c.name, points, rounds);
    std::printf("  one uncut update          cpu %7.4f s\n", bench::median(update));
    std::printf("  a point, in memory        cpu %7.4f s   %5.2f x   (goal <= %.0f x)\n", bench::median(memory),
                bench::median(memory_ratio), kGoalRatio);
    std::printf("  a point, --processes      cpu %7.4f s   %5.2f x\n", bench::median(processes),
                bench::median(processes_ratio));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app("Times a power-cut sweep's cost per point against one uncut update.", "sweep_bench");
    int rounds = 5;
    unsigned points = 20;
    cli::add_number(app, "--rounds", &rounds, 100, "rounds per case (default 5); the figures are the medians");
    cli::add_number(app, "--points", &points, 10000, "cut points a sweep (default 20)");
    app.add_option("--tools", tools_dir, "the folder of updatetool, modulectl and mkbin (default: this build's)")
        ->check(CLI::ExistingDirectory)
        ->type_name("DIR");
    cli::prepare(app, "Exit status: 0 every run succeeded, 1 one did not, 2 the command line was wrong.");
    if (int status = cli::parse(app, argc, argv); status >= 0) return status;
    if (rounds < 1) rounds = 1;
    if (points < 1) points = 1;
    bench::print_machine();
    fs::path work = fs::temp_directory_path() / ("sweep_bench-" + std::to_string(::getpid()));
    fs::create_directories(work);
    bool ok = true;
    for (const Case& c : kCases) ok = bench_case(c, rounds, points, work) && ok;
    fs::remove_all(work);
    return ok ? 0 : 1;
}
