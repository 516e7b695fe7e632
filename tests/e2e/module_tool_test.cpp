// modulectl's inspections and profile edits, as a user runs them: the
// section map, verify, the event log by run, hand-written profiles, set and
// unset, flash files of the wrong size.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include <nlohmann/json.hpp>

#include "tests/e2e/e2e_support.h"

namespace {

using testing_support::read_binary;

TEST(ModuleTool, SectionsShowsWhatAnUpdateDetectsWithoutChangingTheModule) {
    e2e::ModuleDir module("pxa270");
    e2e::bootloader_on_flash(module);
    // A configuration block at its old place: detection on the module itself
    // would move it.
    std::string config = module.make_image("config.bin", {"--start", "0x88000", "--config-block", "0x100"});
    module.update_tool({}, "/u " + config);
    std::vector<uint8_t> before = read_binary(module.file("nor.bin"));
    e2e::ToolRun run = e2e::run_tool("modulectl", {"sections", module.path().string()});
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find("Bootloader   0x00000000 0x00040000 0x00001000"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("ConfigBlock  0x00088000 0x00040000 0x00000100  (old place"), std::string::npos)
        << run.output;
    EXPECT_EQ(read_binary(module.file("nor.bin")), before);
}

// verify reads the flash as the program addresses it (bias and boot area
// applied) and names the first byte that differs and how many do.
TEST(ModuleTool, VerifyFindsWhatDiffers) {
    struct Case {
        const char* name;
        const char* profile;
        const char* tamper;
        int status;
        const char* says;
    };
    // clang-format off
    const Case cases[] = {
        {"as written", "pxa270", "", 0, "matches: 2 records, 0x2000 bytes\n"},
        {"a flipped byte", "pxa270", "flip", 1, "differs at 0x00081234: 0x1 of 0x2000 bytes in 2 records\n"},
        {"a missing record", "pxa270", "missing", 1, "differs at 0x00090000: 0x1000 of 0x2000 bytes in 2 records\n"},
        {"a wrong bias", "pxa270", "bias", 1, "differs at 0x00101000: 0x2000 of 0x2000 bytes in 2 records\n"},
        // Logical 0x1F800 on, past the relocation table page, is physical block 1.
        {"the boot area", "pxa300-f1ec", "", 0, "matches: 1 record, 0x2000 bytes\n"},
        // The page keeps its ECC: a reader with ECC would get the byte back.
        {"the boot area, flipped", "pxa300-f1ec", "flip", 1, "differs at 0x0001f800: 0x1 of 0x2000 bytes in 1 record; 1 page with ECC errors, 0 uncorrectable\nmodulectl verify: chip 0 page 64: ECC corrects a flipped bit\n"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        e2e::ModuleDir module(c.profile);
        std::vector<uint8_t> raw(0x1000);
        for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>((i * 5 + 1) % 255);  // no 0xFF
        testing_support::write_binary(module.scratch("a.raw"), raw);
        std::string a = "=" + module.scratch("a.raw").string();
        bool nand = std::string(c.profile) != "pxa270";
        std::vector<std::string> first = {"--start", "0x80080000", "--length", "0x11000", "--data", "0x80081000" + a};
        std::vector<std::string> both = first;
        both.insert(both.end(), {"--data", "0x80090000" + a});
        // On NAND beside an old bootloader's first bytes, which the update keeps.
        if (nand) {
            both =
                first = {"--start", "0x1F000", "--length", "0x2000", "--data", "0x1F000" + a, "--data", "0x20000" + a};
            module.poke("nand-0.main", 0, {0x42, 0x4F, 0x4F, 0x54});
        }
        std::string image = module.make_image("image.bin", both);
        std::string written = std::string(c.tamper) == "missing" ? module.make_image("first.bin", first) : image;
        ASSERT_EQ(module.update_tool({}, "/u " + written).exit_code, 0);
        if (std::string(c.tamper) == "flip") {
            std::string file = nand ? "nand-0.main" : "nor.bin";
            uint64_t at = nand ? 0x20000 : 0x81234;
            uint8_t old = read_binary(module.file(file))[at];
            module.poke(file, at, {static_cast<uint8_t>(old ^ 0x10)});
        }
        if (std::string(c.tamper) == "bias") {
            ASSERT_EQ(e2e::run_tool("modulectl", {"set", module.path().string(), "hal.item5=[0x100000]"}).exit_code, 0);
        }
        e2e::ToolRun run = e2e::run_tool("modulectl", {"verify", module.path().string(), image});
        EXPECT_EQ(run.exit_code, c.status) << run.output;
        EXPECT_EQ(run.output, c.says);
    }
}

// The event log by program run: a header for each, absolute times.
TEST(ModuleTool, EventsAreListedByRunWithAbsoluteTimes) {
    e2e::ModuleDir module("pxa270");
    module.update_tool({}, "/fu");
    module.update_tool({}, "/rc1500");
    e2e::ToolRun run = e2e::run_tool("modulectl", {"events", module.path().string()});
    EXPECT_EQ(run.exit_code, 0) << run.output;
    const std::string stamp = "20[0-9]{2}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}";
    EXPECT_TRUE(std::regex_match(run.output, std::regex("run 1: updatetool /fu, module opened " + stamp +
                                                        " UTC\n"
                                                        "  " +
                                                        stamp +
                                                        "  registry flushed\n"
                                                        "run 2: updatetool /rc1500, module opened " +
                                                        stamp +
                                                        " UTC\n"
                                                        "  " +
                                                        stamp +
                                                        "  clean reboot requested\n"
                                                        "  " +
                                                        stamp + "  reboot cold\n")))
        << run.output;
    nlohmann::json runs =
        nlohmann::json::parse(e2e::run_tool("modulectl", {"events", module.path().string(), "--json"}).output);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[1]["program"], "updatetool /rc1500");
    // The reboot waited 1.5 s of the module's time.
    EXPECT_GE(runs[1]["events"][1]["offset_ms"].get<double>(), 1500.0);
    EXPECT_EQ(runs[1]["events"][1]["text"], "reboot cold");
}

// A profile written by hand: the module refuses to open on any key that
// breaks its rule, naming the file, the line and the key.
TEST(ModuleTool, BadProfilesAreRefusedWithFileLineAndKey) {
    const std::string good = "# by hand\n[cpu]\nproduct = 17\n[flash]\nkind = 'nor'\n[nor]\ndevice_code = 0x18\n";
    struct Case {
        std::string text;
        const char* says;  // after "module.toml"
    };
    // clang-format off
    const Case cases[] = {
        {good, ""},
        {good + "query_size = -1\n", ":8: nor.query_size -1 is outside 17..26"},
        {good + "query_size = 27\n", ":8: nor.query_size 27 is outside 17..26"},
        {good + "bogus = 1\n", ":8: unknown key nor.bogus"},
        {good + "[hal]\nitem5 = []\n", ":9: hal.item5 must be a list of 1 to 64 integers in 0..0xFFFFFFFF, not []"},
        {good + "[hal]\nitem0 = [1, 0x1_0000_0000]\n", ":9: hal.item0 must be a list of 1 to 64 integers"},
        {"[cpu]\nproduct = 0xFFFFFFFFFFFF\n[flash]\nkind = 'nor'\n", ":2: cpu.product 0xFFFFFFFFFFFF is outside 0..63"},
        {"[cpu]\nproduct = 17\n[flash]\nkind = 'nor'\n[nor]\ndevice_code = \"abc\"\n", ":6: nor.device_code must be an integer in 0..0xFFFF, not 'abc'"},
        {"[cpu]\nproduct = 17\n[flash]\nkind = 'disk'\n", ":4: flash.kind must be \"nor\" or \"nand\", not 'disk'"},
        {"[cpu]\nproduct = 17\n[flash]\nkind = 'nand'\n", ": nand.id is missing"},
        {"", ": cpu.product is missing"},
        {good + "[os]\nmajor = 1.5\n", ":9: os.major must be an integer in 0..0xFFFFFFFF, not a float"},
        {good + "[nor\n", ":8: "},
        {good + "[os]\nmajor = t\n", ":9: os.major must be an integer in 0..0xFFFFFFFF, not t (TOML: Error while parsing boolean: expected 'true', saw 't\\u000A')"},
        // A value TOML cannot read is named by its key, with what the key takes.
        {"[cpu]\nproduct = 17\n[flash]\nkind = nor\n", ":4: flash.kind must be \"nor\" or \"nand\", not nor (TOML: Error while parsing"},
        {good + "query_size = 2x4 # comment\n", ":8: nor.query_size must be an integer in 17..26, not 2x4 # comment (TOML: "},
        {good + "querysize = 2x4\n", ":8: unknown key nor.querysize (TOML: "},
        {good + "[registry.\"a\\nb\"]\nc = 1\n", ":9: a key holds a control character"},
        {good + "query_size = \"a\\n\\\"b\"\n", ":8: nor.query_size must be an integer in 17..26, not \"a\\u000A\\\"b\""},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        e2e::ModuleDir module("pxa270");
        testing_support::write_binary(module.file("module.toml"), std::vector<uint8_t>(c.text.begin(), c.text.end()));
        e2e::ToolRun run = e2e::run_tool("modulectl", {"show", module.path().string()});
        if (!*c.says) {
            EXPECT_EQ(run.exit_code, 0) << run.output;
            continue;
        }
        // A module that does not open is a host error on every tool.
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_NE(run.output.find("modulectl show: " + module.file("module.toml").string() + c.says), std::string::npos)
            << run.output;
        EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
    }
}

// modulectl set checks every value before it writes; what it writes keeps
// the file's comments and reads back as set.
TEST(ModuleTool, SetChecksEveryValueFirstAndKeepsComments) {
    e2e::ModuleDir module("pxa270");
    const std::string text =
        "# by hand\n[cpu]\nproduct = 17 # PXA27x\n[flash]\nkind = 'nor'\n[nor]\ndevice_code = 0x18\n";
    testing_support::write_binary(module.file("module.toml"), std::vector<uint8_t>(text.begin(), text.end()));
    auto file = [&] {
        std::vector<uint8_t> bytes = read_binary(module.file("module.toml"));
        return std::string(bytes.begin(), bytes.end());
    };
    const std::string dir = module.path().string();
    e2e::ToolRun run = e2e::run_tool("modulectl", {"set", dir, "nor.query_size=24", "nor.device_code=0x10000"});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_NE(run.output.find("nor.device_code=0x10000: nor.device_code 0x10000 is outside 0..0xFFFF"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(file(), text);

    run = e2e::run_tool("modulectl", {"set", dir, "nor.query_size=24", "cpu.product=0x11", "hal.item0=[1,2]"});
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(file(),
              "# by hand\n[cpu]\nproduct = 0x11 # PXA27x\n[flash]\nkind = 'nor'\n[nor]\nquery_size = 24\n"
              "device_code = 0x18\n\n[hal]\nitem0 = [ 1, 2 ]\n");
    const std::string set = file();
    for (const char* key : {"nor.querysize", "cpu.product"}) {
        run = e2e::run_tool("modulectl", {"unset", dir, "nor.query_size", key});
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_NE(run.output.find(std::string(key) == "cpu.product" ? "cpu.product is missing" : "unknown key"),
                  std::string::npos)
            << run.output;
        EXPECT_EQ(file(), set);
    }
    // A key of the other kind of flash would never take effect.
    for (const char* key : {"nand.wear.erase_limit=3", "nand.bad_blocks=[5]"}) {
        run = e2e::run_tool("modulectl", {"set", dir, key});
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_NE(run.output.find(std::string(key).substr(0, std::string(key).find('=')) +
                                  " is a NAND key; this is a NOR module"),
                  std::string::npos)
            << run.output;
        EXPECT_EQ(file(), set);
    }
    run = e2e::run_tool("modulectl", {"unset", dir, "nor.query_size", "hal.item0"});
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(file(),
              "# by hand\n[cpu]\nproduct = 0x11 # PXA27x\n[flash]\nkind = 'nor'\n[nor]\ndevice_code = 0x18\n\n[hal]\n");
    EXPECT_EQ(e2e::run_tool("modulectl", {"show", dir}).exit_code, 0);
}

// A profile that cannot be written whole (here a size limit of 0 bytes on
// files: every write fails) leaves module.toml as it was and nothing beside it.
TEST(ModuleTool, SetOnAFullDiskLeavesTheProfileAsItWas) {
    e2e::ModuleDir module("pxa270", {"nor.query_size=21"});
    std::vector<uint8_t> before = read_binary(module.file("module.toml"));
    std::string said;
    std::string command = "trap '' XFSZ; ulimit -f 0; " + testing_support::binary("modulectl") + " set " +
                          e2e::shell_quote(module.path().string()) + " hal.item0=[1,2] 2>&1";
    EXPECT_EQ(testing_support::run_command("sh -c " + e2e::shell_quote(command), &said), 2) << said;
    EXPECT_NE(said.find("cannot write " + module.file("module.toml").string() + ": File too large"), std::string::npos)
        << said;
    EXPECT_EQ(read_binary(module.file("module.toml")), before);
    EXPECT_FALSE(std::filesystem::exists(module.file("module.toml.tmp")));
}

// A flash file larger than the chip is refused as a smaller one is.
TEST(ModuleTool, FlashFilesOfAnotherSizeAreRefused) {
    struct Case {
        const char* profile;
        const char* file;
        int64_t change;  // bytes added (or taken away)
        int status;
    };
    // clang-format off
    const Case cases[] = {
        {"pxa270",      "nor.bin",      1, 2},
        {"pxa270",      "nor.bin",     -1, 2},
        {"pxa300-f1ec", "nand-0.main",  1, 2},  // 2048-byte pages x 65536
        {"pxa300-f1ec", "nand-0.oob",   1, 2},
        {"pxa300-f1ec", "nand-0.main", -1, 0},  // shorter is erased flash
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.change));
        e2e::ModuleDir module(c.profile);
        uint64_t chip = std::string(c.file) == "nor.bin"       ? 0x2000000
                        : std::string(c.file) == "nand-0.main" ? 2048ull * 65536
                                                               : 64ull * 65536;
        std::filesystem::resize_file(module.file(c.file), chip + c.change);
        e2e::ToolRun run = e2e::run_tool("modulectl", {"show", module.path().string()});
        EXPECT_EQ(run.exit_code, c.status) << run.output;
        if (!c.status) {
            EXPECT_NE(run.output.find("flash:    NAND K9F1G08U0B (ID 0xF1EC), one chip; chip: 2048+64-byte pages, 64 "
                                      "pages a block, 1024 blocks; 128 MiB, 125 MiB addressed after 20 reserve blocks"),
                      std::string::npos)
                << run.output;
        }
        if (c.status) {
            EXPECT_NE(run.output.find(std::string(c.file) + " is " + std::to_string(chip + c.change) + " bytes"),
                      std::string::npos)
                << run.output;
        }
    }
}

}  // namespace
