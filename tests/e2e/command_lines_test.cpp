// Every tool reads its command line one way.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>

#include "tests/e2e/e2e_support.h"

namespace {

// Every tool: unknown options and stray words refused with 2 and one line,
// --opt=value as --opt value, numbers in decimal or hex up to their limit.
TEST(CommandLines, EachToolReadsItsOptionsOneWay) {
    e2e::ModuleDir module("pxa270");
    const std::string dir = module.path().string();
    const std::string report = "--report=" + module.scratch("r.json").string();
    struct Case {
        const char* tool;
        std::vector<std::string> args;
        int status;
        const char* says;  // "" for --version: "TOOL N.N.N"
    };
    // clang-format off
    const Case cases[] = {
        {"updatetool", {"--version"}, 0, ""},
        {"updatetool", {"--module", dir, "--bogus"}, 2, "updatetool: unknown option --bogus"},
        {"updatetool", {"--module", dir, "--answer", "maybe"}, 2, "--answer: maybe not in"},
        {"updatetool", {"--module=" + dir, "--ui=line", report, "/f", "--report", "x"}, 0, "Registry Successfully Saved"},
        {"modulectl", {"--version"}, 0, ""},
        {"modulectl", {"frob", dir}, 2, "modulectl: unknown command 'frob'"},
        {"modulectl", {"show", dir, "extra"}, 2, "modulectl show: unexpected argument 'extra'"},
        {"modulectl", {"dump", dir, "--bogus"}, 2, "modulectl dump: unknown option --bogus"},
        {"modulectl", {"dump", dir, "--offset=0x100", "--length", "2"}, 0, "00000100  ff ff    "},
        {"modulectl", {"dump", dir, "--offset", "256", "--length=0x2"}, 0, "       |..|\n"},
        {"modulectl", {"show", dir, "--json"}, 0, "\"flash\": {\n    \"kind\": \"nor\""},
        {"modulectl", {"sections", dir, "--json"}, 0, "\"section\": \"Bootloader\""},
        {"modulectl", {"events", dir, "--json"}, 0, "\"program\": \"updatetool /f --report x\""},
        {"modulectl", {"verify", dir}, 2, "modulectl verify: IMAGE is required"},
        {"modulectl", {"verify", dir, dir}, 2, "modulectl verify: cannot read"},
        {"modulectl", {"dump", dir, "--length", "0x40000001"}, 2, "--length: '0x40000001' is over 1 GiB"},
        {"modulectl", {"pin", dir, "zz"}, 2, "modulectl pin: N: 'zz' is not a number"},
        {"modulectl", {"hold-flash", dir, "--seconds", "86401"}, 2, "--seconds: '86401' is over 86400"},
        {"modulectl", {"create", module.scratch("n").string(), "--set", "nor.query_size=abc"}, 2, "nor.query_size must be an integer in 17..26, not abc"},
        {"modulectl", {"create", module.scratch("k").string(), "--profile", "pxa300-f1ec", "--set", "nor.query_size=21"}, 2, "modulectl create: nor.query_size is a NOR key; this is a NAND module"},
        {"modulectl", {"cut", "--help"}, 0, "at this virtual time of the run (at most 1000000000000)\n"},
        {"modulectl", {"check", "--help"}, 0, "Exit status: 0 bootable, 1 not bootable, 2 "},
        {"modulectl", {"diff", "--help"}, 0, "Exit status: 0 the same, 1 different, 2 "},
        {"modulectl", {"sweep", dir}, 2, "modulectl sweep: DIR and IMAGE are required (or --merge PART.json...)"},
        {"modulectl", {"sweep", dir, "--merge", dir + "/module.toml"}, 2, "modulectl sweep: --merge takes tables, not DIR and IMAGE"},
        {"modulectl", {"sweep", "--merge", dir + "/module.toml"}, 2, "module.toml: no sweep table (points and inputs missing)"},
        {"modulectl", {"sweep", dir, dir, "--depth", "3"}, 2, "--depth: '3' is over 2"},
        {"mkbin", {"--version"}, 0, ""},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.tool) + " " + c.args[0] + " " + (c.args.size() > 1 ? c.args.back() : ""));
        e2e::ToolRun run = e2e::run_tool(c.tool, c.args);
        EXPECT_EQ(run.exit_code, c.status) << run.output;
        if (*c.says) {
            EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        } else {
            EXPECT_TRUE(std::regex_match(run.output, std::regex(std::string(c.tool) + " [0-9]+\\.[0-9]+\\.[0-9]+\n")))
                << run.output;
        }
        if (c.status == 2) {
            EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << "one line";
        }
    }
    // The module command line is the program's, options or not.
    std::ifstream written(module.scratch("r.json"));
    std::string text((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
    EXPECT_EQ(e2e::json_value(text, "command_line"), "/f --report x");
}

}  // namespace
