// On a terminal the progress is one line drawn over itself, phase by phase.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "tests/e2e/e2e_support.h"

namespace {

TEST(ProgressLine, OnATerminalItIsOneLineRedrawn) {
    struct Case {
        const char* profile;
        std::vector<std::string> image;
        std::vector<std::string> phases;  // in the order the line shows them
    };
    // clang-format off
    const Case cases[] = {
        {"pxa270",      {"--start", "0x80080000", "--length", "0x100000", "--fill", "pattern"}, {"erasing", "writing"}},
        // The boot area is written back after the records, then read back.
        {"pxa300-f1ec", {"--start", "0", "--length", "0x30000", "--fill", "pattern"},           {"erasing", "writing", "staging the boot area", "verifying"}},
    };
    // clang-format on
    const std::regex segment(
        "(erasing|writing|staging the boot area|verifying) +[0-9.]+ (B|KiB|MiB) of [0-9.]+ (B|KiB|MiB) +[0-9]+%"
        "(  [0-9.]+ (B|KiB|MiB|GiB)/s(  [0-9:]+ left)?)?\\x1b\\[K");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.profile);
        e2e::ModuleDir module(c.profile);
        if (std::string(c.profile) == "pxa270") module.fill_nor(0x00);
        std::string image = module.make_image("image.bin", c.image);
        e2e::ToolRun run =
            e2e::run_tool_on_terminal("updatetool", {"--module", module.path().string(), "--verify", "/u", image});
        EXPECT_EQ(run.exit_code, 0) << run.output;
        // The terminal ends lines with \r\n; a redraw starts with \r alone.
        std::vector<std::string> lines;
        std::istringstream all(e2e::replace_all(run.output, "\r\n", "\n"));
        for (std::string line; std::getline(all, line);)
            if (line.find("\x1b[K") != std::string::npos) lines.push_back(line);
        // The dialog's line, then the host's verify.
        ASSERT_EQ(lines.size(), 2u) << run.output;
        std::vector<std::string> phases;
        size_t draws = 0;
        std::istringstream redraws(lines[0]);
        for (std::string draw; std::getline(redraws, draw, '\r');) {
            if (draw.empty()) continue;
            EXPECT_TRUE(std::regex_match(draw, segment)) << draw;
            ++draws;
            std::string phase = draw.substr(0, draw.find("  "));
            phase.erase(phase.find_last_not_of(' ') + 1);
            if (phases.empty() || phases.back() != phase) phases.push_back(phase);
        }
        EXPECT_EQ(phases, c.phases);
        EXPECT_GE(draws, 10u);
        EXPECT_NE(lines[0].find(" 100%"), std::string::npos) << lines[0];
        EXPECT_EQ(lines[1].rfind("\rverifying", 0), 0u) << lines[1];
        EXPECT_NE(run.output.find("updatetool: update succeeded"), std::string::npos) << run.output;
    }
}

}  // namespace
