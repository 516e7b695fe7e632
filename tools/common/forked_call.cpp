#include "tools/common/forked_call.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <thread>

std::string ForkedEnd::text() const {
    char line[96];
    switch (kind) {
        case kExited: std::snprintf(line, sizeof line, "exit status %d", status); break;
        case kSignalled: std::snprintf(line, sizeof line, "killed by signal %d (%s)", status, strsignal(status)); break;
        case kTimedOut: std::snprintf(line, sizeof line, "timed out after %.1f s", seconds); break;
        case kNotStarted: std::snprintf(line, sizeof line, "could not fork"); break;
    }
    return line;
}

ForkedEnd run_forked(const std::function<int()>& body, double timeout_seconds, const std::function<bool()>& stop) {
    using Clock = std::chrono::steady_clock;
    ForkedEnd end;
    std::cout.flush();
    std::fflush(nullptr);
    const Clock::time_point start = Clock::now();
    pid_t pid = ::fork();
    if (pid < 0) return end;
    if (pid == 0) {
        ::setpgid(0, 0);
        int null_fd = ::open("/dev/null", O_RDONLY);
        if (null_fd >= 0) ::dup2(null_fd, 0);
        int status = body();
        std::cout.flush();
        std::fflush(nullptr);
        ::_exit(status);
    }
    ::setpgid(pid, pid);  // either side may run first
    auto elapsed = [&start] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    int status = 0;
    for (;;) {
        // Seen ended but not yet reaped: the process group is still its own.
        siginfo_t info = {};
        int seen = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
        if (seen == 0 && info.si_pid == pid) break;
        if (seen < 0 && errno != EINTR) return end;
        if ((timeout_seconds > 0 && elapsed() >= timeout_seconds) || (stop && stop())) {
            ::kill(-pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
            end.kind = ForkedEnd::kTimedOut;
            end.seconds = elapsed();
            return end;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    end.seconds = elapsed();
    // What the child started and left behind ends with it.
    ::kill(-pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    if (WIFEXITED(status)) {
        end.kind = ForkedEnd::kExited;
        end.status = WEXITSTATUS(status);
    } else {
        end.kind = ForkedEnd::kSignalled;
        end.status = WTERMSIG(status);
    }
    return end;
}
