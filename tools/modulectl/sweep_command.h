// modulectl sweep: one update run many times on a module, the power cut at a
// different program or erase each time; after each cut the module is checked
// (modulectl check) and updated again without a cut (updatetool --verify).
// By default the module lives in memory and the tools' code runs in
// processes forked from this one (tools/common/memory_module.h); with
// --processes each point gets a scratch copy of the module and the tools run
// as programs, the reference the in-memory rows equal.
#pragma once
#include <cstdint>
#include <string>

struct SweepOptions {
    std::string dir;    // the module to copy
    std::string image;  // the update's image
    uint64_t every = 0;
    uint64_t points = 0;  // seeded cut points (default when neither is given: 20)
    uint64_t seed = 1;
    unsigned jobs = 1;
    unsigned shard = 1, shards = 1;                // this shard's number (1..shards) and how many
    std::string csv;                               // -o FILE
    std::string json;                              // --json FILE
    std::string svg;                               // --svg FILE
    unsigned depth = 1;                            // 2: each retry cut too, then retried again
    std::string work;                              // where the scratch copies go (default: a temporary folder)
    std::string updatetool;                        // default: beside modulectl
    std::string runner;                            // words the tools run through, e.g. an emulator
    bool processes = false;                        // the reference runner (implied by runner and updatetool)
    int (*modulectl_main)(int, char**) = nullptr;  // modulectl's own command line, for check in memory
};

// Exit status: 0 when every retry succeeded and verified, 1 when one did not
// or the update fails without a cut, 2 for a wrong option, a module that
// cannot be copied or a table or work folder that cannot be written, 130
// when interrupted (the finished points are shown). The table goes into
// *result too when one is given (tools/modulectl/sweep_result.h).
struct SweepResult;
int run_sweep(const SweepOptions& options, SweepResult* result = nullptr);
