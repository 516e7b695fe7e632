// A piece of work run in a process of its own, forked from the caller, with
// a limit on its wall time: a crash or a hang ends that process, never the
// caller. The child leads a process group of its own, so what it starts in
// turn (forked tools, workers) ends with it when the limit is reached.
#pragma once
#include <functional>
#include <string>

struct ForkedEnd {
    enum Kind { kExited, kSignalled, kTimedOut, kNotStarted } kind = kNotStarted;
    int status = 0;      // the exit status, or the signal
    double seconds = 0;  // wall time

    bool exited() const { return kind == kExited; }
    // "exit status 3", "killed by signal 6 (Aborted)", "timed out after 2.0 s", "could not fork".
    std::string text() const;
};

// body's result is the child's exit status. Its standard input is
// /dev/null. timeout_seconds <= 0: no limit. stop, when given, is asked
// every few milliseconds; true ends the child as a timeout does.
ForkedEnd run_forked(const std::function<int()>& body, double timeout_seconds, const std::function<bool()>& stop = {});
