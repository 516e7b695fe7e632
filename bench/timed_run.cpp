#include "bench/timed_run.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

namespace bench {

namespace {

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

}  // namespace

Run run(const std::vector<std::string>& argv) {
    auto start = std::chrono::steady_clock::now();
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        if (!std::freopen("/dev/null", "w", stdout)) _exit(127);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    Run result;
    struct rusage usage {};
    if (pid < 0 || wait4(pid, &result.status, 0, &usage) != pid) return result;
    result.wall_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.cpu_seconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    result.peak_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return result;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

namespace {

std::string first_line_with(const char* path, const std::string& prefix) {
    std::ifstream f(path);
    for (std::string line; std::getline(f, line);)
        if (line.rfind(prefix, 0) == 0) return line;
    return "";
}

}  // namespace

void print_machine() {
    std::string model = first_line_with("/proc/cpuinfo", "model name");
    size_t colon = model.find(':');
    model = colon == std::string::npos ? "?" : model.substr(colon + 2);
    std::string load = first_line_with("/proc/loadavg", "");
    load = load.substr(0, load.find(' ', load.find(' ', load.find(' ') + 1) + 1));
    std::printf("machine: %u cores, %s, load %s\n", std::thread::hardware_concurrency(), model.c_str(), load.c_str());
}

}  // namespace bench
