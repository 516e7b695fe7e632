// Wear outlives each run: the update after the limit meets worn blocks; NAND
// moves them to the reserve and succeeds, NOR reports the failed erase.
// modulectl wear shows each chip's counters.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/e2e/e2e_support.h"

namespace {

TEST(Wear, WornBlocksFailALaterUpdateAndWearShowsTheCounters) {
    struct Case {
        const char* profile;
        const char* limit;
        const char* length;  // of the image
        int runs;
        int status;  // of the last run
        const char* says;
        const char* row;  // of modulectl wear
        const char* summary;
        size_t erased;
        size_t worn;
    };
    // clang-format off
    // One NAND block moves: its entry rewrites block 0 (erased once), and
    // the replacement, erased twice, is worn as it is taken.
    const Case cases[] = {
        {"pxa300-f1ec", "nand.wear.erase_limit=2", "0x20000",  3, 0, "module: bad block found: chip 0 block 4 (block erase at 0x00080000, status 0xc1 = failed)\n", "   0   1023  0x07fe0000       2  worn\n", "nand: 1 chip of 1024 blocks, 3 erased; erases a block: max 2, mean 0.00; erase limit 2: 2 worn\n", 3, 2},
        {"pxa270",      "nor.wear.erase_limit=1",  "0x100000", 2, 1, "module: block erase at 0x00080000 failed: chip 0 status 0xa0 = erase error\n",                    "   1      5  0x00140000       1  worn\n", "nor: 2 chips of 128 blocks, 8 erased; erases a block: max 1, mean 0.03; erase limit 1: 8 worn\n",    8, 8},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.profile);
        e2e::ModuleDir module(c.profile, {c.limit});
        if (std::string(c.profile) == "pxa270") module.fill_nor(0x00);
        std::string image =
            module.make_image("os.bin", {"--start", "0x80080000", "--length", c.length, "--fill", "pattern"});
        e2e::ToolRun run;
        for (int i = 0; i < c.runs; ++i) run = module.update_tool({}, "/u " + image);
        EXPECT_EQ(run.exit_code, c.status) << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        e2e::ToolRun wear = e2e::run_tool("modulectl", {"wear", module.path().string()});
        EXPECT_EQ(wear.exit_code, 0) << wear.output;
        EXPECT_EQ(wear.output.rfind("chip  block  offset      erases  state\n", 0), 0u) << wear.output;
        EXPECT_NE(wear.output.find(c.row), std::string::npos) << wear.output;
        EXPECT_NE(wear.output.find(c.summary), std::string::npos) << wear.output;
        wear = e2e::run_tool("modulectl", {"wear", "--json", "--all", module.path().string()});
        nlohmann::json j = nlohmann::json::parse(wear.output, nullptr, false);
        ASSERT_TRUE(j.is_object()) << wear.output;
        EXPECT_EQ(j["erased"], c.erased);
        EXPECT_EQ(j["worn"], c.worn);
        EXPECT_EQ(j["blocks"].size(), j["chips"].get<size_t>() * j["blocks_per_chip"].get<size_t>());
    }
}

}  // namespace
