// Work in a forked process under a time limit: how it ended, whatever it did.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "tools/common/forked_call.h"

namespace {

// Where the grandchild below leaves its process id.
const std::string kGrandchildFile = "/tmp/forked-call-grandchild-" + std::to_string(::getpid());

// Gone, or a zombie not yet reaped.
bool ended(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    size_t paren = line.rfind(')');
    return paren != std::string::npos && line.substr(paren + 2, 1) == "Z";
}

struct Ending {
    const char* name;
    int (*body)();
    double timeout;
    ForkedEnd::Kind kind;
    int status;
    const char* text;  // how ForkedEnd::text() begins
};

const Ending kEndings[] = {
    {"exits", [] { return 3; }, 10, ForkedEnd::kExited, 3, "exit status 3"},
    {"crashes",
     [] {
         ::kill(::getpid(), SIGKILL);
         return 0;
     },
     10, ForkedEnd::kSignalled, SIGKILL, "killed by signal 9"},
    {"hangs",
     [] {
         for (;;) ::pause();
         return 0;
     },
     0.05, ForkedEnd::kTimedOut, 0, "timed out after"},
    // What the child started ends with it at the limit.
    {"hangs in a grandchild",
     [] {
         pid_t grandchild = ::fork();
         if (grandchild == 0)
             for (;;) ::pause();
         std::ofstream(kGrandchildFile) << grandchild << "\n";
         for (;;) ::pause();
         return 0;
     },
     0.05, ForkedEnd::kTimedOut, 0, "timed out after"},
};

class ForkedCall : public testing::TestWithParam<Ending> {};

TEST_P(ForkedCall, TellsHowTheWorkEndedAndTheCallerGoesOn) {
    const Ending& e = GetParam();
    ForkedEnd end = run_forked(e.body, e.timeout);
    EXPECT_EQ(end.kind, e.kind);
    EXPECT_EQ(end.status, e.status);
    EXPECT_EQ(end.text().rfind(e.text, 0), 0u) << end.text();
    if (e.kind == ForkedEnd::kTimedOut) {
        EXPECT_GE(end.seconds, e.timeout);
    }
    pid_t grandchild = 0;
    if (std::ifstream(kGrandchildFile) >> grandchild) {
        std::remove(kGrandchildFile.c_str());
        bool gone = false;
        for (int i = 0; i < 200 && !(gone = ended(grandchild)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_TRUE(gone) << "process " << grandchild << " outlived the limit";
    }
}

INSTANTIATE_TEST_SUITE_P(Endings, ForkedCall, testing::ValuesIn(kEndings),
                         [](const testing::TestParamInfo<Ending>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c; ++c) name += std::isalnum(*c) ? *c : '_';
                             return name;
                         });

TEST(ForkedCall, AStopRequestEndsTheWorkAsATimeoutDoes) {
    int asked = 0;
    ForkedEnd end = run_forked(
        [] {
            for (;;) ::pause();
            return 0;
        },
        0, [&asked] { return ++asked > 3; });
    EXPECT_EQ(end.kind, ForkedEnd::kTimedOut);
    EXPECT_GT(asked, 3);
}

}  // namespace
