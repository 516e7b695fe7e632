// `cmake --install` of this build into a fresh prefix: every file lands where
// Debian keeps it, and the installed tools rehearse a NOR and a NAND update
// from the prefix alone, with the sample image installed beside the docs.
// A prefix that cannot be written ends the install with one clear line.
#include <gtest/gtest.h>

#include <regex>

#include "tests/e2e/e2e_support.h"

namespace {

namespace fs = std::filesystem;

class Install : public testing::Test {
protected:
    static void SetUpTestSuite() {
        prefix_ = new testing_support::TempDir;
        std::string output;
        status_ = testing_support::run_command(std::string(UPDATETOOL_CMAKE_COMMAND) + " --install " +
                                                   e2e::shell_quote(UPDATETOOL_BINARY_DIR) + " --prefix " +
                                                   e2e::shell_quote(prefix_->path().string()) + " 2>&1",
                                               &output);
        output_ = new std::string(output);
    }
    static void TearDownTestSuite() {
        delete prefix_;
        delete output_;
    }
    static fs::path at(const std::string& relative) { return prefix_->path() / relative; }

    static testing_support::TempDir* prefix_;
    static std::string* output_;
    static int status_;
};

testing_support::TempDir* Install::prefix_ = nullptr;
std::string* Install::output_ = nullptr;
int Install::status_ = -1;

TEST_F(Install, PutsEveryFileWhereDebianKeepsIt) {
    ASSERT_EQ(status_, 0) << *output_;
    for (const char* file :
         {"bin/updatetool", "bin/modulectl", "bin/mkbin", "share/man/man1/updatetool.1.gz",
          "share/man/man1/modulectl.1.gz", "share/man/man1/mkbin.1.gz", "share/man/man5/updatetool-module.5.gz",
          "share/bash-completion/completions/updatetool", "share/bash-completion/completions/modulectl",
          "share/bash-completion/completions/mkbin", "share/doc/updatetool/README.md", "share/doc/updatetool/tools.md",
          "share/doc/updatetool/module.md", "share/doc/updatetool/profiles/pxa270.toml",
          "share/doc/updatetool/profiles/pxa300-f1ec.toml", "share/doc/updatetool/examples/sample.bin"})
        EXPECT_TRUE(fs::is_regular_file(at(file))) << file;
    EXPECT_EQ(fs::status(at("bin/updatetool")).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
    EXPECT_FALSE(fs::exists(at(".updatetool-install-probe")));
}

// clang-format off
struct InstalledRun {
    std::string command;   // run in a fresh folder, $P the prefix, its bin/ alone on PATH
    std::string produces;  // a file the command leaves there
};
const InstalledRun kRuns[] = {
    {"modulectl create nor --profile pxa270",                     "nor/module.toml"},
    {"modulectl create nand --profile pxa300-f1ec",               "nand/module.toml"},
    {"updatetool --module nor -q --dry-run --keep nor-after --report nor.json /u $P/share/doc/updatetool/examples/sample.bin",
                                                                  "nor.json"},
    {"updatetool --module nand -q --dry-run --report nand.json /u $P/share/doc/updatetool/examples/sample.bin",
                                                                  "nand.json"},
    {"mkbin -o boot.bin --start 0 --length 0x30000 --fill pattern --rom", "boot.bin"},
    {"modulectl create p30 --profile pxa270-p30 && cmp p30/module.toml $P/share/doc/updatetool/profiles/pxa270-p30.toml",
                                                                  "p30/module.toml"},
};
// clang-format on

TEST_F(Install, TheInstalledToolsRehearseFromThePrefixAlone) {
    if (*UPDATETOOL_TOOL_RUNNER) GTEST_SKIP() << "the cross-built tools run through an emulator";
    ASSERT_EQ(status_, 0) << *output_;
    testing_support::TempDir fresh;
    for (const InstalledRun& run : kRuns) {
        std::string output;
        std::string command = "cd " + e2e::shell_quote(fresh.path().string()) +
                              " && P=" + e2e::shell_quote(prefix_->path().string()) +
                              " && PATH=\"$P/bin:/usr/bin:/bin\" && (" + run.command + ") 2>&1";
        EXPECT_EQ(testing_support::run_command(command, &output), 0) << run.command << "\n" << output;
        EXPECT_TRUE(fs::exists(fresh.path() / run.produces)) << run.command;
    }
    for (const char* report : {"nor.json", "nand.json"}) {
        std::vector<uint8_t> bytes = testing_support::read_binary(fresh.path() / report);
        EXPECT_EQ(e2e::json_value(std::string(bytes.begin(), bytes.end()), "outcome"), "success") << report;
    }
}

TEST_F(Install, APrefixThatCannotBeWrittenEndsWithOneClearLine) {
    testing_support::TempDir scratch;
    testing_support::write_binary(scratch.path() / "file", {1});
    const fs::path prefix = scratch.path() / "file" / "usr";  // below a file: no folder can be made there
    std::string output;
    int status = testing_support::run_command(std::string(UPDATETOOL_CMAKE_COMMAND) + " --install " +
                                                  e2e::shell_quote(UPDATETOOL_BINARY_DIR) + " --prefix " +
                                                  e2e::shell_quote(prefix.string()) + " 2>&1",
                                              &output);
    EXPECT_NE(status, 0);
    // CMake wraps the message's lines.
    std::string said = std::regex_replace(output, std::regex("\\s+"), " ");
    EXPECT_NE(said.find("cannot install into " + prefix.string() + ": it is not a folder this user may write to"),
              std::string::npos)
        << output;
    EXPECT_EQ(output.find("Installing:"), std::string::npos) << "nothing is copied first\n" << output;
}

}  // namespace
