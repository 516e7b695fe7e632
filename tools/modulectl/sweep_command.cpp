#include "tools/modulectl/sweep_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "module/config.h"
#include "module/hw/cut_bits.h"
#include "module/power_cut.h"
#include "tools/common/cli.h"
#include "tools/common/content_hash.h"
#include "tools/common/memory_module.h"
#include "tools/common/output_file.h"
#include "tools/common/scratch_copy.h"
#include "tools/modulectl/check_command.h"
#include "tools/modulectl/sweep_result.h"
#include "tools/updatetool/updatetool_main.h"

extern char** environ;

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace {

// Runs a tool with stdout into out_file (or nowhere) and stderr nowhere;
// its exit status, or -1 when it did not exit.
int run_process(const std::vector<std::string>& args, const fs::path& out_file) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::string out = out_file.empty() ? "/dev/null" : out_file.string();
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) < 0 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

json read_json(const fs::path& path) {
    std::ifstream in(path);
    json j = json::parse(in, nullptr, false);
    return j.is_discarded() ? json(nullptr) : j;
}

// A scratch copy (reflinked or sparse where it can be); the event log starts anew.
bool copy_module(const fs::path& from, const fs::path& to, std::string* error) {
    std::error_code ec;
    fs::remove_all(to, ec);
    ScratchCopy copy;
    if (!::copy_module(from, to, &copy, error)) return false;
    fs::remove(to / "events.log", ec);
    return true;
}

bool arm_cut(const fs::path& dir, uint64_t op, uint64_t seed, std::string* error) {
    sim::Config profile;
    std::string path = (dir / "module.toml").string();
    if (!profile.load(path, error)) return false;
    for (const char* key : sim::kCutKeys) profile.erase(key);
    profile.set_u64("power.cut_at_op", op);
    profile.set_u64("power.seed", seed);
    return profile.save(path, error);
}

// One cut point: the cut run's record as check read it (phase and
// section added), what check found, the retry with verify. As JSON, the
// shape of a row of the table (tools/modulectl/sweep_result.h).
struct Row {
    uint64_t op = 0;
    bool cut = false;  // the cut fired
    json record;       // power-cut.json with phase and section
    bool bootable = false;
    std::string reason;
    std::vector<std::string> damaged;
    int retry_status = -1;
    std::string retry_outcome;
    bool verified = false;
    uint64_t retry_operations = 0;  // flash operations of the retry
    std::string problem;            // a tool that did not run as expected
};

struct Tools {
    std::string updatetool, modulectl;
    std::vector<std::string> runner;  // put before each tool's command line
};

// Runs one tool ("updatetool" or "modulectl" and its arguments), its
// standard output into out (or nowhere); its exit status, or -1.
using Launch = std::function<int(const std::vector<std::string>& args, const fs::path& out)>;

Launch process_launch(const Tools& tools) {
    return [&tools](std::vector<std::string> args, const fs::path& out) {
        args[0] = args[0] == "updatetool" ? tools.updatetool : tools.modulectl;
        args.insert(args.begin(), tools.runner.begin(), tools.runner.end());
        return run_process(args, out);
    };
}

// The same tools run in processes forked from this one, which has run no
// module: each starts as a fresh process would, without an exec.
Launch forked_launch(const SweepOptions& o) {
    return [&o](const std::vector<std::string>& args, const fs::path& out) {
        return MemoryModule::run(args[0] == "updatetool" ? updatetool_main : o.modulectl_main, args, out);
    };
}

// One cut point on a module folder as the uncut module left it: the cut
// run, the check, the retry with verify.
Row cut_point(const SweepOptions& o, const Launch& launch, const fs::path& scratch, const fs::path& work, uint64_t op) {
    Row row;
    row.op = op;
    std::string error;
    if (!arm_cut(scratch, op, o.seed, &error)) {
        row.problem = error;
        return row;
    }
    int cut = launch({"updatetool", "--module", scratch.string(), "-q", "/u " + o.image}, {});
    row.cut = cut == sim::kPowerCutExitStatus;
    if (!row.cut && cut != 0) row.problem = "the cut run ended with exit status " + std::to_string(cut);
    fs::path check_out = work / ("check-" + std::to_string(op) + ".json");
    int checked = launch({"modulectl", "check", scratch.string(), o.image, "--json"}, check_out);
    json check = read_json(check_out);
    if ((checked != 0 && checked != 1 && checked != kCheckNotVerified) || !check.is_object()) {
        row.problem = "modulectl check ended with exit status " + std::to_string(checked);
    } else {
        row.bootable = check.value("bootable", false);
        row.reason = check.value("reason", "");
        row.damaged = check.value("damaged_sections", std::vector<std::string>{});
        row.record = check["power_cut"];
    }
    fs::path report = work / ("retry-" + std::to_string(op) + ".json");
    row.retry_status = launch(
        {"updatetool", "--module", scratch.string(), "-q", "--verify", "--report", report.string(), "/u " + o.image},
        {});
    json retry = read_json(report);
    if (retry.is_object()) {
        row.retry_outcome = retry.value("outcome", "");
        row.verified = retry["verify"].is_object() && retry["verify"].value("matches", false);
        row.retry_operations = retry.value("flash_operations", uint64_t{0});
    }
    std::error_code ec;
    fs::remove(check_out, ec);
    fs::remove(report, ec);
    return row;
}

json row_json(const Row& r) {
    json record = r.record.is_object() ? r.record : json::object();
    return {{"operation", r.op},
            {"time_us", record.value("time_us", 0.0)},
            {"cut", r.cut},
            {"kind", record.value("kind", "")},
            {"address", record.value("address", uint64_t{0})},
            {"phase", record.value("phase", "")},
            {"section", record.value("section", "")},
            {"done", record.value("done", 0.0)},
            {"bootable", r.bootable},
            {"reason", r.reason},
            {"damaged_sections", r.damaged},
            {"retry_outcome", r.retry_outcome},
            {"retry_exit_status", r.retry_status},
            {"retry_verified", r.verified},
            {"problem", r.problem}};
}

// A row whose point could not be run at all.
json failed_row(uint64_t op, const std::string& problem) {
    Row row;
    row.op = op;
    row.problem = problem;
    return row_json(row);
}

// Puts the module folder the runs are given back as the sweep found it.
using Fresh = std::function<bool(std::string* error)>;

// The row of one cut point; the folder is made fresh first. At depth 2 the
// row holds the cuts of its retry: for each, the folder made fresh again,
// the first cut run again (the same bits: the cut is seeded), then the
// retry cut at its operation, checked and retried again with verify.
json point_rows(const SweepOptions& o, const Launch& launch, const fs::path& folder, const fs::path& work, uint64_t op,
                const Fresh& fresh) {
    std::string error;
    if (!fresh(&error)) return failed_row(op, error);
    const Row first = cut_point(o, launch, folder, work, op);
    json row = row_json(first);
    if (o.depth < 2) return row;
    row["second_cuts"] = json::array();
    const uint64_t seed = o.seed * 0x9E3779B97F4A7C15ull + op;
    for (uint64_t second : sweep_points(o.every, o.points, seed, first.retry_operations)) {
        if (!fresh(&error) || !arm_cut(folder, op, o.seed, &error)) {
            row["second_cuts"].push_back(failed_row(second, error));
            continue;
        }
        int cut = launch({"updatetool", "--module", folder.string(), "-q", "/u " + o.image}, {});
        json twice = row_json(cut_point(o, launch, folder, work, second));
        if (cut != sim::kPowerCutExitStatus && twice["problem"].get<std::string>().empty())
            twice["problem"] = "the first cut run ended with exit status " + std::to_string(cut);
        row["second_cuts"].push_back(twice);
    }
    return row;
}

// The reference runner: a scratch copy of the module and three processes per run.
json process_point(const SweepOptions& o, const Launch& launch, const fs::path& work, uint64_t op) {
    fs::path scratch = work / ("cut-" + std::to_string(op));
    json row = point_rows(o, launch, scratch, work, op,
                          [&](std::string* error) { return copy_module(o.dir, scratch, error); });
    std::error_code ec;
    fs::remove_all(scratch, ec);
    return row;
}

volatile sig_atomic_t interrupted = 0;

void on_interrupt(int) { interrupted = 1; }

// A worker of the in-memory runner: its own module in memory, the points
// i with i % jobs == worker, each row sent to the parent as a JSON line.
[[noreturn]] void memory_worker(const SweepOptions& o, const fs::path& work, const std::vector<uint64_t>& points,
                                unsigned worker, unsigned jobs, int out) {
    ::signal(SIGINT, SIG_DFL);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    MemoryModule module;
    std::string error;
    const fs::path mine = work / ("worker-" + std::to_string(worker));
    const Launch launch = forked_launch(o);
    const bool loaded = module.load(o.dir, mine, {"events.log"}, &error);
    // The check's scratch copies (the section detection) go beside the
    // module in memory, not to a disk's temporary folder.
    if (loaded) ::setenv("TMPDIR", mine.c_str(), 1);
    // The module as loaded is fresh; after a run, restore makes it so.
    bool used = false;
    const Fresh fresh = [&](std::string* why) {
        if (!loaded) *why = error;
        if (!loaded || !used) return used = loaded;
        return module.restore(why);
    };
    for (size_t i = worker; i < points.size(); i += jobs) {
        json row = point_rows(o, launch, module.folder(), mine, points[i], fresh);
        std::string line = json({{"index", i}, {"row", row}}).dump() + "\n";
        if (::write(out, line.data(), line.size()) != static_cast<ssize_t>(line.size())) break;
    }
    ::close(out);
    ::_exit(0);
}

// The in-memory runner: the rows by point, or false when interrupted.
bool run_in_memory(const SweepOptions& o, const fs::path& work, const std::vector<uint64_t>& points,
                   std::vector<json>* rows, std::vector<bool>* done) {
    const unsigned jobs = std::max(1u, std::min<unsigned>(o.jobs, static_cast<unsigned>(points.size())));
    std::vector<pid_t> workers;
    std::vector<pollfd> pipes;
    std::cout.flush();
    std::fflush(nullptr);
    for (unsigned w = 0; w < jobs; ++w) {
        int ends[2];
        if (::pipe(ends) != 0) break;
        pid_t pid = ::fork();
        if (pid == 0) {
            ::close(ends[0]);
            memory_worker(o, work, points, w, jobs, ends[1]);
        }
        ::close(ends[1]);
        if (pid < 0) {
            ::close(ends[0]);
            break;
        }
        workers.push_back(pid);
        pipes.push_back({ends[0], POLLIN, 0});
    }
    std::vector<std::string> partial(pipes.size());
    size_t finished = 0, open = pipes.size();
    const bool progress = ::isatty(2);
    while (open > 0 && !interrupted) {
        if (::poll(pipes.data(), pipes.size(), -1) < 0) continue;
        for (size_t p = 0; p < pipes.size(); ++p) {
            if (pipes[p].fd < 0 || !(pipes[p].revents & (POLLIN | POLLHUP))) continue;
            char buffer[65536];
            ssize_t n = ::read(pipes[p].fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                ::close(pipes[p].fd);
                pipes[p].fd = -1;
                --open;
                continue;
            }
            partial[p].append(buffer, static_cast<size_t>(n));
            for (size_t end; (end = partial[p].find('\n')) != std::string::npos;) {
                json j = json::parse(partial[p].substr(0, end), nullptr, false);
                partial[p].erase(0, end + 1);
                size_t i = j.is_object() ? j.value("index", points.size()) : points.size();
                if (i >= points.size()) continue;
                (*rows)[i] = j["row"];
                (*done)[i] = true;
                ++finished;
                if (progress) std::fprintf(stderr, "\r%zu of %zu points", finished, points.size());
            }
        }
    }
    if (progress) std::fprintf(stderr, "\r\033[K");
    for (pid_t pid : workers) {
        if (interrupted) ::kill(pid, SIGKILL);
        int status;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    }
    // A worker that ended before its points (it could not load the module):
    // its points say so.
    for (size_t i = 0; i < points.size() && !interrupted; ++i)
        if (!(*done)[i]) {
            (*rows)[i] = failed_row(points[i], "the sweep worker ended before this point");
            (*done)[i] = true;
        }
    return !interrupted;
}

}  // namespace

int run_sweep(const SweepOptions& o, SweepResult* out) {
    if (o.depth < 1 || o.depth > 2) {
        std::fprintf(stderr, "modulectl sweep: --depth is 1 or 2\n");
        return cli::kUsage;
    }
    if (o.shard < 1 || o.shard > o.shards) {
        std::fprintf(stderr, "modulectl sweep: --shard I/N needs 1 <= I <= N\n");
        return cli::kUsage;
    }
    Tools tools;
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    tools.modulectl = self.string();
    tools.updatetool = o.updatetool.empty() ? (self.parent_path() / "updatetool").string() : o.updatetool;
    std::istringstream runner_words(o.runner);
    for (std::string word; runner_words >> word;) tools.runner.push_back(word);
    // A runner (an emulator) or another updatetool runs processes; the
    // module in memory runs this program's own code.
    const bool processes = o.processes || !o.runner.empty() || !o.updatetool.empty() || !o.modulectl_main;
    const Launch launch = processes ? process_launch(tools) : forked_launch(o);
    // The module in memory lives in memory: /dev/shm where there is one.
    fs::path temp = !processes && fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    fs::path work = o.work.empty() ? temp / ("modulectl-sweep-" + std::to_string(::getpid())) : fs::path(o.work);
    fs::create_directories(work, ec);
    if (ec) {
        std::fprintf(stderr, "modulectl sweep: cannot make the work folder %s: %s\n", work.c_str(),
                     ec.message().c_str());
        return cli::kUsage;
    }

    // The update once without a cut: how many operations there are to cut.
    std::string error;
    fs::path base = work / "uncut";
    fs::path base_report = work / "uncut.json";
    if (!copy_module(o.dir, base, &error)) {
        std::fprintf(stderr, "modulectl sweep: %s\n", error.c_str());
        return cli::kUsage;
    }
    int status = launch(
        {"updatetool", "--module", base.string(), "-q", "--verify", "--report", base_report.string(), "/u " + o.image},
        {});
    json uncut = read_json(base_report);
    fs::remove_all(base, ec);
    fs::remove(base_report, ec);
    if (status != 0 || !uncut.is_object()) {
        std::fprintf(stderr, "modulectl sweep: the update without a cut ends with exit status %d\n", status);
        if (o.work.empty()) fs::remove_all(work, ec);
        return cli::kFailure;
    }
    SweepResult result;
    result.image = o.image;
    result.module = o.dir;
    result.flash_operations = uncut.value("flash_operations", uint64_t{0});
    // The report gives milliseconds to the microsecond.
    result.update_us = static_cast<uint64_t>(uncut.value("virtual_time_ms", 0.0) * 1000.0 + 0.5);
    result.shard = std::to_string(o.shard) + "/" + std::to_string(o.shards);
    result.inputs = {{"module_hash", folder_fingerprint(o.dir, {"events.log"})},
                     {"image_hash", file_fingerprint(o.image)},
                     {"every", o.every},
                     {"points", o.every ? 0 : std::min(o.points ? o.points : 20, result.flash_operations)},
                     {"seed", o.seed},
                     {"depth", o.depth},
                     {"shards", o.shards}};
    const uint64_t total = result.flash_operations;
    std::vector<uint64_t> points = sweep_points(o.every, o.points, o.seed, total, o.shard, o.shards);
    std::printf(
        "update of %s: %llu flash operations, %s of device time; cutting at %zu of them (shard %u/%u, seed "
        "%llu)\n",
        o.image.c_str(), static_cast<unsigned long long>(total),
        device_time_text(static_cast<double>(result.update_us) / 1e6).c_str(), points.size(), o.shard, o.shards,
        static_cast<unsigned long long>(o.seed));

    std::vector<json> rows(points.size());
    std::vector<bool> done(points.size(), false);
    struct sigaction action = {}, previous = {};
    action.sa_handler = on_interrupt;
    ::sigaction(SIGINT, &action, &previous);
    if (processes) {
        std::atomic<size_t> next{0};
        std::vector<std::thread> workers;
        for (unsigned j = 0; j < std::max(1u, o.jobs); ++j)
            workers.emplace_back([&] {
                for (size_t i; !interrupted && (i = next++) < points.size();) {
                    rows[i] = process_point(o, launch, work, points[i]);
                    done[i] = !interrupted;
                }
            });
        for (std::thread& t : workers) t.join();
    } else {
        run_in_memory(o, work, points, &rows, &done);
    }
    ::sigaction(SIGINT, &previous, nullptr);
    if (o.work.empty()) fs::remove_all(work, ec);
    // When interrupted, only the finished points are shown; the module was never touched.
    for (size_t i = 0; i < rows.size(); ++i)
        if (done[i]) result.points.push_back(rows[i]);

    std::fputs(sweep_text(result).c_str(), stdout);
    if (out) *out = result;
    if (interrupted) {
        std::fflush(stdout);
        std::fprintf(stderr, "modulectl sweep: interrupted: %zu of %zu points finished; %s is as it was\n",
                     result.points.size(), points.size(), o.dir.c_str());
        return 130;
    }
    if (!write_sweep_files(result, {o.csv, o.json, o.svg}, &error)) {
        std::fprintf(stderr, "modulectl sweep: %s\n", error.c_str());
        return cli::kUsage;
    }
    return sweep_all_verified(result) ? 0 : cli::kFailure;
}
