// Rehearsing, seeing and exchanging flash as a user does: a dry run against
// the real run that follows it, diff after an update, the flash map
// picture, and raw dumps out of one module and into another.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include <nlohmann/json.hpp>

#include "tests/e2e/flash_layout.h"

namespace {

namespace fs = std::filesystem;
using testing_support::read_binary;

// Every file under dir by its relative path.
std::map<std::string, std::vector<uint8_t>> snapshot(const fs::path& dir, bool flash_only = false) {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        std::string name = fs::relative(entry.path(), dir).string();
        bool flash = name == "nor.bin" || name.rfind("nand-", 0) == 0;
        if (entry.is_regular_file() && (flash || !flash_only)) files[name] = read_binary(entry.path());
    }
    return files;
}

nlohmann::json json_of(const std::string& text) { return nlohmann::json::parse(text, nullptr, false); }

std::string make_image(const e2e::ModuleDir& module, const std::string& name, const char* fill) {
    std::string image = module.scratch(name).string();
    e2e::ToolRun made =
        e2e::run_tool("mkbin", {"-o", image, "--start", "0x80080000", "--length", "0x20000", "--fill", fill, "--rom"});
    EXPECT_EQ(made.exit_code, 0) << made.output;
    return image;
}

class DryRun : public testing::TestWithParam<int> {};

// Old data under the image, so that every block the update touches changes.
TEST_P(DryRun, LeavesTheModuleAsItWasAndPlansWhatTheRealRunDoes) {
    e2e::ModuleDir module = e2e::make_module(e2e::kProfiles[GetParam()]);
    ASSERT_EQ(module.update_tool({}, "/u " + make_image(module, "old.bin", "0x11")).exit_code, 0);
    std::string image = make_image(module, "os.bin", "pattern");
    auto before = snapshot(module.path());
    fs::path kept = module.scratch("kept");

    e2e::ToolRun dry = module.update_tool({"--dry-run", "--keep", kept.string()}, "/u " + image);
    ASSERT_EQ(dry.exit_code, 0) << dry.output;
    EXPECT_NE(dry.output.find("on a scratch copy; the module is as it was\n  erase    block"), std::string::npos)
        << dry.output;
    EXPECT_EQ(snapshot(module.path()), before) << "the dry run changed the module";
    nlohmann::json planned = json_of(module.report());
    ASSERT_TRUE(planned["plan"].is_object()) << module.report();
    EXPECT_EQ(planned["dry_run"]["kept"], true);

    fs::copy(module.path(), module.scratch("before"), fs::copy_options::recursive);
    ASSERT_EQ(module.update_tool({}, "/u " + image).exit_code, 0);
    nlohmann::json done = json_of(module.report());
    for (const char* key : {"plan", "outcome", "bytes_erased", "bytes_written", "nand", "virtual_time_ms"})
        EXPECT_EQ(planned[key], done[key]) << key;
    EXPECT_EQ(snapshot(kept, true), snapshot(module.path(), true)) << "the kept scratch module is not the real result";

    // diff names exactly the blocks the plan erased or programmed.
    std::set<unsigned> touched, named;
    for (const auto& step : done["plan"]["steps"])
        for (unsigned b = step["blocks"][0]; b <= step["blocks"][1]; ++b) touched.insert(b);
    e2e::ToolRun diff =
        e2e::run_tool("modulectl", {"diff", module.scratch("before").string(), module.path().string(), "--json"});
    EXPECT_EQ(diff.exit_code, 1) << diff.output;
    nlohmann::json differences = json_of(diff.output);
    for (const auto& block : differences["blocks"]) named.insert(block["block"].get<unsigned>());
    EXPECT_EQ(named, touched) << diff.output;
    EXPECT_EQ(e2e::run_tool("modulectl", {"diff", kept.string(), module.path().string()}).exit_code, 0);
}

INSTANTIATE_TEST_SUITE_P(Profiles, DryRun, testing::Range(0, e2e::kProfileCount),
                         [](const testing::TestParamInfo<int>& info) { return e2e::profile_name(info.param); });

// A dry run that cannot start, or whose update fails, leaves the module as it was too.
TEST(DryRun, RefusedOrFailingLeavesTheModuleAsItWas) {
    struct Case {
        const char* name;
        std::vector<std::string> sets;
        std::vector<std::string> host_args;  // KEEP stands for a folder that holds a file
        int status;
        const char* says;
    };
    // clang-format off
    const Case cases[] = {
        {"--keep alone",        {}, {"--keep", "kept"},                  2, "--keep requires --dry-run"},
        {"--keep a full folder", {}, {"--dry-run", "--keep", "KEEP"},     2, "--dry-run: --keep "},
        {"the erase fails",     {"nor.fault.erase_error=[0x80000]"}, {"--dry-run"}, 1,
         "  nothing erased or programmed\n"
         "  keep     flash 0x000a0000-0x000bffff (IMAGE): outside the image: read before the erase, written back to "
         "the blocks it erased\n"
         "  failed operation: block erase at 0x00080000 failed: chip 0 status 0xa0 = erase error\n"
         "  outcome: failure; "},
        // 512 KiB of flash: the image at 0x80000 lies past its end, and the dry run says so first.
        {"the image passes the flash's end", {"nor.query_size=18"}, {"--dry-run"}, 1,
         "updatetool: --dry-run: the image's range 0x00080000-0x0009ffff ends past the flash's end 0x00080000; "
         "the update fails at its erase\nupdatetool: dry run: the update would fail: Error erasing Flash!\n"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> sets = {"nor.query_size=21"};
        sets.insert(sets.end(), c.sets.begin(), c.sets.end());
        e2e::ModuleDir module("pxa270", sets);
        module.fill_nor(0x11);
        fs::path full = module.scratch("full");
        fs::create_directories(full);
        testing_support::write_binary(full / "note", {1});
        std::vector<std::string> args = c.host_args;
        for (std::string& arg : args)
            if (arg == "KEEP") arg = full.string();
        auto before = snapshot(module.path());
        e2e::ToolRun run = module.update_tool(args, "/u " + make_image(module, "os.bin", "pattern"));
        EXPECT_EQ(run.exit_code, c.status) << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        EXPECT_EQ(snapshot(module.path()), before);
        EXPECT_EQ(snapshot(full).size(), 1u);
    }
}

// A run of blocks changed alike is one line, and its section is the one the
// update's plan names: a raw image holds no ROM header for the detection
// to find, so IMAGE lies at its built-in place. Byte counts in hex.
TEST(Diff, MergesRunsOfBlocksAndNamesSectionsAsThePlanDoes) {
    e2e::ModuleDir module("pxa270");
    fs::copy(module.path(), module.scratch("before"), fs::copy_options::recursive);
    std::string image =
        module.make_image("raw.bin", {"--start", "0x80080000", "--length", "0x100000", "--fill", "0x11"});
    e2e::ToolRun dry = module.update_tool({"--dry-run"}, "/u " + image);
    EXPECT_NE(dry.output.find("flash 0x00080000-0x0017ffff (IMAGE)"), std::string::npos) << dry.output;
    ASSERT_EQ(module.update_tool({}, "/u " + image).exit_code, 0);
    e2e::ToolRun diff = e2e::run_tool("modulectl", {"diff", module.scratch("before").string(), module.path().string()});
    EXPECT_EQ(diff.exit_code, 1) << diff.output;
    EXPECT_EQ(diff.output,
              "blocks 2-5 (device 0x00080000-0x0017ffff): programmed, 0x100000 bytes differ; flash "
              "0x00080000-0x0017ffff (IMAGE)\n"
              "section IMAGE: 4 blocks, 0x100000 bytes differ\n"
              "4 blocks differ (0 erased, 4 programmed, 0 rewritten), 0x100000 bytes; 0 blocks relocated\n");
}

TEST(Diff, RefusesModulesOfAnotherFlash) {
    e2e::ModuleDir nor("pxa270"), nand("pxa300-f1ec");
    e2e::ToolRun run = e2e::run_tool("modulectl", {"diff", nor.path().string(), nand.path().string()});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_NE(run.errors.find("compare modules of one profile"), std::string::npos) << run.errors;
}

// The number of rect elements whose class holds the word, by XPath; the
// legend's swatches aside.
int rects(const fs::path& svg, const std::string& word) {
    std::string output;
    std::string xpath = "count(//*[local-name()='rect'][contains(concat(' ', @class, ' '), ' " + word +
                        " ')][not(contains(@class, 'legend'))])";
    int status = testing_support::run_command(
        "xmllint --xpath " + e2e::shell_quote(xpath) + " " + e2e::shell_quote(svg.string()), &output);
    return status == 0 ? std::stoi(output) : -1;
}

TEST(FlashMap, DrawsEveryBlockByStateWithTheImageOverIt) {
    if (testing_support::run_command("command -v xmllint rsvg-convert >/dev/null", nullptr) != 0)
        GTEST_SKIP() << "xmllint or rsvg-convert is not installed (scripts/setup.sh installs them)";
    struct Case {
        const char* profile;
        std::vector<std::string> sets;
        int inject_bad;    // a block that goes bad after creation, or -1
        int locked_block;  // NOR: a block whose lock bits are set after the update, or -1
        std::map<std::string, int> expected;
    };
    // clang-format off
    const Case cases[] = {
        // 16 blocks of 256 KiB; the image at 0x80000 lies in block 2.
        {"pxa270", {"nor.query_size=21"}, -1, 12,
         {{"block", 16}, {"programmed", 1}, {"locked", 1}, {"erased", 14}, {"in-image", 1}}},
        // Block 0 holds the table page; logical block 4 goes bad and moves into the reserve pool.
        {"pxa300-f1ec", {"nand.bad_blocks=[700]"}, 4, -1,
         {{"block", 1024}, {"bad", 2}, {"relocated", 1}, {"reserve", 19}, {"programmed", 1}, {"erased", 1001},
          {"in-image", 1}}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.profile);
        e2e::ModuleDir module(c.profile, c.sets);
        if (c.inject_bad >= 0) {
            ASSERT_EQ(
                e2e::run_tool("modulectl", {"inject-bad-block", module.path().string(), std::to_string(c.inject_bad)})
                    .exit_code,
                0);
        }
        std::string image = make_image(module, "os.bin", "pattern");
        ASSERT_EQ(module.update_tool({}, "/u " + image).exit_code, 0) << module.report();
        // The update clears every J3 lock bit; one set afterwards, in both chips.
        if (c.locked_block >= 0) module.poke("nor.locks", 2 * c.locked_block, {1, 1});
        fs::path svg = module.scratch("map.svg");
        e2e::ToolRun run =
            e2e::run_tool("modulectl", {"map", module.path().string(), "-o", svg.string(), "--image", image});
        ASSERT_EQ(run.exit_code, 0) << run.output;
        std::string output;
        EXPECT_EQ(testing_support::run_command("xmllint --noout " + e2e::shell_quote(svg.string()), &output), 0)
            << "not well-formed XML";
        for (const auto& [word, count] : c.expected) EXPECT_EQ(rects(svg, word), count) << word;
        // 16 blocks of 256 KiB; 1024 blocks of 128 KiB less the 20 of the reserve.
        std::vector<uint8_t> drawn = read_binary(svg);
        std::string heading = std::string(c.profile) == "pxa270" ? "0x00000000-0x003fffff" : "0x00000000-0x07d7ffff";
        EXPECT_NE(std::string(drawn.begin(), drawn.end())
                      .find("Sections (flash offsets as the system addresses them, " + heading + ")"),
                  std::string::npos);
        EXPECT_EQ(rects(svg, "section"), 3)
            << "Bootloader and ConfigBlock are not in flash; IMAGE, Registry, FileSystem are";
        fs::path png = module.scratch("map.png");
        ASSERT_EQ(
            testing_support::run_command(
                "rsvg-convert -o " + e2e::shell_quote(png.string()) + " " + e2e::shell_quote(svg.string()), &output),
            0);
        std::vector<uint8_t> picture = read_binary(png);
        ASSERT_GT(picture.size(), 8u);
        EXPECT_EQ(std::string(picture.begin() + 1, picture.begin() + 4), "PNG");
    }
}

class RawDump : public testing::TestWithParam<const char*> {};

// A module with programmed pages, their ECC and a factory bad-block marker,
// dumped, imported into a new module and dumped again.
TEST_P(RawDump, ImportIntoANewModuleThenExportGivesTheSameBytes) {
    e2e::ModuleDir from(GetParam(), {"nand.bad_blocks=[9]"}), into(GetParam());
    ASSERT_EQ(from.update_tool({}, "/u " + make_image(from, "os.bin", "pattern")).exit_code, 0);
    for (bool oob : {true, false}) {
        SCOPED_TRACE(oob ? "with spare areas" : "main areas alone");
        std::vector<std::string> layout =
            oob ? std::vector<std::string>{"--raw"} : std::vector<std::string>{"--raw", "--no-oob"};
        fs::path dump = from.scratch("dump.bin");
        std::vector<std::string> args = {"export", from.path().string(), dump.string()};
        args.insert(args.end(), layout.begin(), layout.end());
        ASSERT_EQ(e2e::run_tool("modulectl", args).exit_code, 0);
        args = {"import", into.path().string(), dump.string()};
        if (!oob) args.push_back("--no-oob");
        e2e::ToolRun imported = e2e::run_tool("modulectl", args);
        ASSERT_EQ(imported.exit_code, 0) << imported.output;
        std::string again = testing_support::binary("modulectl") + " export " + e2e::shell_quote(into.path().string()) +
                            " - " + (oob ? "--raw" : "--raw --no-oob") + " 2>/dev/null | cmp - " +
                            e2e::shell_quote(dump.string());
        std::string output;
        EXPECT_EQ(testing_support::run_command(again, &output), 0) << output;
        fs::remove(dump);
    }
    EXPECT_EQ(e2e::run_tool("modulectl", {"diff", from.path().string(), into.path().string()}).exit_code, 1)
        << "the spare areas were erased by the import without them";

    fs::path wrong = from.scratch("short.bin");
    testing_support::write_binary(wrong, std::vector<uint8_t>(1000, 0xFF));
    e2e::ToolRun refused = e2e::run_tool("modulectl", {"import", into.path().string(), wrong.string()});
    EXPECT_EQ(refused.exit_code, 2);
    EXPECT_NE(refused.errors.find("is 1000 bytes; a dump of this module with spare areas is "), std::string::npos)
        << refused.errors;
}

INSTANTIATE_TEST_SUITE_P(NandProfiles, RawDump,
                         testing::Values("pxa320-75ec", "pxa320-76ec", "pxa320-d3ec", "pxa300-f1ec", "pxa320-dcad"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

}  // namespace
