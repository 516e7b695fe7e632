// README.md's quick start, pasted as it stands into a shell in a fresh
// folder with the built tools on PATH (as its build block leaves them): every
// line runs, none fails.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/e2e/e2e_support.h"

namespace {

// The fenced sh blocks of a section of README.md, in order.
std::vector<std::string> sh_blocks(const std::string& heading) {
    std::ifstream f(std::string(UPDATETOOL_SOURCE_DIR) + "/README.md");
    std::vector<std::string> blocks;
    bool in_section = false, in_block = false;
    for (std::string line; std::getline(f, line);) {
        if (line.rfind("## ", 0) == 0) in_section = line == heading;
        if (!in_section) continue;
        if (line == "```sh") {
            in_block = true;
            blocks.emplace_back();
        } else if (line == "```") {
            in_block = false;
        } else if (in_block) {
            blocks.back() += line + "\n";
        }
    }
    return blocks;
}

TEST(Readme, TheQuickStartRunsAsWrittenInAFreshFolder) {
    if (*UPDATETOOL_TOOL_RUNNER) GTEST_SKIP() << "the cross-built tools run through an emulator, not from PATH";
    std::vector<std::string> blocks = sh_blocks("## Quick start");
    ASSERT_EQ(blocks.size(), 2u) << "the build, then the try-out";
    EXPECT_NE(blocks[0].find("export PATH=\"$PWD/build/release:$PATH\""), std::string::npos) << blocks[0];
    testing_support::TempDir fresh;
    testing_support::write_binary(fresh.path() / "quick-start.sh",
                                  std::vector<uint8_t>(blocks[1].begin(), blocks[1].end()));
    std::string command = "cd " + e2e::shell_quote(fresh.path().string()) +
                          " && PATH=" + e2e::shell_quote(UPDATETOOL_BINARY_DIR) +
                          ":\"$PATH\" sh -ex quick-start.sh 2>&1";
    std::string output;
    EXPECT_EQ(testing_support::run_command(command, &output), 0) << output;
    EXPECT_NE(output.find("updatetool: update succeeded ("), std::string::npos) << output;
    // The image carries ROM headers: the section map finds it.
    EXPECT_NE(output.find("IMAGE        0x00080000 0x00100000 0x00100000"), std::string::npos) << output;
    EXPECT_EQ(testing_support::read_binary(fresh.path() / "nk.nb0").size(), 0x100000u);
    EXPECT_EQ(e2e::json_value(
                  [&] {
                      std::vector<uint8_t> r = testing_support::read_binary(fresh.path() / "r.json");
                      return std::string(r.begin(), r.end());
                  }(),
                  "outcome"),
              "success");
}

}  // namespace
