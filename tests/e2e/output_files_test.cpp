// Every file the tools write, where it cannot be written: a full disk
// (/dev/full), a path through a regular file, a folder that cannot be
// written, a file that outgrows a size limit of 512 bytes (ulimit -f) part-way. Each
// ends as a host error (status 2) with a sentence naming the file, and
// leaves nothing behind as if whole: no part of a file, no temporary name,
// an old file of the name as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "tests/e2e/e2e_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::read_binary;

struct Output {
    const char* name;
    const char* tool;
    std::vector<std::string> args;  // OUT: the output; DIR: the module; IMG: an image; TABLE: a sweep's JSON
    bool folder = false;            // the output is a folder (a module, sweep's work folder)
};

// clang-format off
const Output kOutputs[] = {
    {"mkbin_image",     "mkbin",      {"-o", "OUT", "--start", "0x80080000", "--length", "0x10000", "--fill", "pattern"}},
    {"report",          "updatetool", {"--module", "DIR", "-q", "--report", "OUT", "/fu"}},
    {"map",             "modulectl",  {"map", "DIR", "-o", "OUT"}},
    {"export",          "modulectl",  {"export", "DIR", "OUT"}},
    {"export_raw",      "modulectl",  {"export", "DIR", "OUT", "--raw"}},
    {"dump",            "modulectl",  {"dump", "DIR", "--out", "OUT", "--length", "0x10000"}},
    {"sweep_csv",       "modulectl",  {"sweep", "DIR", "IMG", "--points", "1", "-o", "OUT"}},
    {"sweep_json",      "modulectl",  {"sweep", "DIR", "IMG", "--points", "1", "--json", "OUT"}},
    {"sweep_svg",       "modulectl",  {"sweep", "--merge", "TABLE", "--svg", "OUT"}},
    {"sweep_work",      "modulectl",  {"sweep", "DIR", "IMG", "--points", "1", "--work", "OUT"},         true},
    {"created_module",  "modulectl",  {"create", "OUT", "--profile", "pxa270", "--force"},                 true},
};
// clang-format on

enum class Failure { FullDisk, ThroughAFile, UnwritableFolder, SizeLimit };

struct FailureCase {
    const char* name;
    Failure failure;
    const char* reason;  // strerror's words
};

// clang-format off
const FailureCase kFailures[] = {
    {"full_disk",         Failure::FullDisk,         "No space left on device"},
    {"through_a_file",    Failure::ThroughAFile,     "Not a directory"},
    {"unwritable_folder", Failure::UnwritableFolder, "Permission denied"},
    {"size_limit",        Failure::SizeLimit,        "File too large"},
};
// clang-format on

// Rows by name in the test's listing.
void PrintTo(const Output& output, std::ostream* os) { *os << output.name; }
void PrintTo(const FailureCase& failure, std::ostream* os) { *os << failure.name; }

// Every name under a folder, hidden ones too, with its bytes for files.
std::map<std::string, std::vector<uint8_t>> contents(const fs::path& folder) {
    std::map<std::string, std::vector<uint8_t>> all;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        std::string name = fs::relative(entry.path(), folder).string();
        all[name] = entry.is_regular_file() ? read_binary(entry.path()) : std::vector<uint8_t>{};
    }
    return all;
}

class OutputFailure : public testing::TestWithParam<std::tuple<Output, FailureCase>> {};

TEST_P(OutputFailure, IsAHostErrorNamingTheFileAndLeavesNothingAsIfWhole) {
    const auto& [output, failure] = GetParam();
    // Root writes into any folder, and a folder through /dev/full is no test.
    if (failure.failure == Failure::UnwritableFolder && geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
    if (output.folder && failure.failure == Failure::FullDisk) GTEST_SKIP() << "/dev/full is no folder";
    // A limit small enough to stop the table stops the sweep's scratch copies first.
    if (std::string(output.args[0]) == "sweep" && std::string(output.args[1]) != "--merge" &&
        failure.failure == Failure::SizeLimit)
        GTEST_SKIP() << "the sweep's scratch copies meet the limit before its table";

    e2e::ModuleDir module("pxa270", {"nor.query_size=21"});
    std::string image = module.make_image("os.bin", {"--start", "0x80080000", "--length", "0x1000", "--fill", "1"});
    // A sweep's table of no points, as merged they make a whole picture.
    const fs::path table = module.scratch("table.json");
    testing_support::write_binary(table, [] {
        std::string text = R"({"inputs": {"every": 0, "points": 0, "seed": 1, "depth": 1, "shards": 1},
                                "flash_operations": 0, "update_us": 1000, "points": []})";
        return std::vector<uint8_t>(text.begin(), text.end());
    }());
    fs::path place = module.scratch("place");
    fs::create_directories(place);
    fs::path out;
    switch (failure.failure) {
        case Failure::FullDisk: out = "/dev/full"; break;
        case Failure::ThroughAFile:
            testing_support::write_binary(place / "plain.txt", {'x'});
            out = place / "plain.txt" / "out";
            break;
        case Failure::UnwritableFolder:
            out = place / "out";
            chmod(place.c_str(), 0555);
            break;
        case Failure::SizeLimit:
            // An old output of the name: a module to replace, or a file.
            out = place / "out";
            if (output.folder)
                ASSERT_EQ(e2e::run_tool("modulectl", {"create", out.string(), "--set", "nor.query_size=21"}).exit_code,
                          0);
            else
                testing_support::write_binary(out, {'o', 'l', 'd'});
            break;
    }
    auto before = contents(place);

    std::string command = failure.failure == Failure::SizeLimit ? "trap '' XFSZ; ulimit -f 1; " : "";
    command += testing_support::binary(output.tool);
    for (std::string arg : output.args)
        command += " " + e2e::shell_quote(arg == "OUT"     ? out.string()
                                          : arg == "DIR"   ? module.path().string()
                                          : arg == "IMG"   ? image
                                          : arg == "TABLE" ? table.string()
                                                           : arg);
    std::string said;
    int status = testing_support::run_command("sh -c " + e2e::shell_quote(command + " 2>&1"), &said);
    chmod(place.c_str(), 0755);

    EXPECT_EQ(status, 2) << said;
    EXPECT_NE(said.find("cannot "), std::string::npos) << said;
    // The file, or for a folder the file in it that could not be written, and why.
    EXPECT_NE(said.find(out.string() + (output.folder ? "" : ": ")), std::string::npos) << said;
    EXPECT_NE(said.find(std::string(": ") + failure.reason + "\n"), std::string::npos) << said;
    EXPECT_EQ(contents(place), before) << "a part of the output or a temporary name was left: " << said;
}

INSTANTIATE_TEST_SUITE_P(Tools, OutputFailure,
                         testing::Combine(testing::ValuesIn(kOutputs), testing::ValuesIn(kFailures)),
                         [](const testing::TestParamInfo<OutputFailure::ParamType>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

}  // namespace
