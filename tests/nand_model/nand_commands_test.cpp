// modulectl's NAND commands on module directories: reports, the logical
// view through the block map, and faults written to the profile.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "module/config.h"
#include "module/hw/nand/nand_controller.h"
#include "module/hw/nand/nand_ecc.h"
#include "tests/support/test_module.h"
#include "tools/modulectl/nand_commands.h"
// The commands are part of the modulectl program, not of a library.
#include "tools/modulectl/nand_commands.cpp"
#include "tools/modulectl/raw_dump.cpp"

using testing_support::TestModule;

namespace {

std::filesystem::path module_dir(const TestModule& m) { return m.dir() / "module"; }

using testing_support::poke_file;

// The logical view as the commands read it.
bool read_view(const std::filesystem::path& dir, uint64_t offset, uint64_t length, std::vector<uint8_t>* bytes,
               std::string* error) {
    std::unique_ptr<sim::FlashView> view = sim::FlashView::open(dir, error);
    bytes->resize(length);
    return view && view->read(offset, length, bytes->data(), error);
}

// Runs one command as modulectl's command line reads it.
std::string run(const std::string& command, const std::vector<std::string>& args, int* result) {
    std::ostringstream out, err;
    CLI::App app;
    modulectl::add_nand_commands(app, out, err, result);
    std::vector<std::string> words = {command};
    words.insert(words.end(), args.begin(), args.end());
    if (int status = cli::parse(app, words); status >= 0) *result = status;
    return out.str() + err.str();
}

TEST(NandCommands, RelocationTableOfANewModuleAndAfterEntries) {
    TestModule m("pxa320-75ec");
    int result = -1;
    std::string text = run("reloc-table", {module_dir(m).string()}, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(text,
              "relocation table page at 0x00003e00, 512 bytes\n"
              "header 0x524e, word 2 0xffff\n"
              "0 entries, then the end mark\n");
    poke_file(module_dir(m) / "nand-0.main", 0x3E00 + 4, {5, 0, 0xF8, 0x07, 0, 0, 0xF9, 0x07});
    text = run("reloc-table", {module_dir(m).string()}, &result);
    EXPECT_NE(text.find("entry 0: logical block 5 -> physical block 2040\n"), std::string::npos) << text;
    EXPECT_NE(text.find("entry 1: logical block 0 -> physical block 2041 (void)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("2 entries, then the end mark\n"), std::string::npos) << text;
    nlohmann::json j = nlohmann::json::parse(run("reloc-table", {module_dir(m).string(), "--json"}, &result));
    EXPECT_EQ(j["entries"][0], nlohmann::json::parse(R"({"logical": 5, "physical": 2040, "void": false,
                                                          "damaged": null})"));
    EXPECT_EQ(j["entries"][1]["void"], true);
    EXPECT_EQ(j["end_mark"], true);
}

TEST(NandCommands, BlockMapShowsMovedBlocksAndItsSource) {
    TestModule m("pxa300-f1ec");
    int result = -1;
    std::string text = run("block-map", {module_dir(m).string()}, &result);
    EXPECT_EQ(result, 0);
    EXPECT_NE(text.find("shared map objects/NAND_FLASH_BBMT.map"), std::string::npos) << text;
    EXPECT_NE(text.find("1024 blocks, 20 in the reserve from block 1004"), std::string::npos) << text;
    EXPECT_NE(text.find("every block in its own place"), std::string::npos) << text;
    poke_file(module_dir(m) / "objects/NAND_FLASH_BBMT.map", 4 + 2 * 3, {0xF2, 0x03});
    text = run("block-map", {module_dir(m).string()}, &result);
    EXPECT_NE(text.find("logical block 3 -> physical block 1010\n"), std::string::npos) << text;
    nlohmann::json j = nlohmann::json::parse(run("block-map", {module_dir(m).string(), "--json"}, &result));
    EXPECT_EQ(j["moved"], nlohmann::json::parse(R"([{"logical": 3, "physical": 1010, "damaged": null}])"));
    EXPECT_EQ(j["reserve_blocks"], 20);
}

// Entries an update would not follow are flagged, in the table page and in
// the map alike.
TEST(NandCommands, DamagedPlacesAreFlagged) {
    struct Case {
        uint16_t logical, physical;
        const char* flag;
    };
    // clang-format off
    const Case cases[] = {
        {4, 0,    "the table's own block"},
        {4, 1,    "a block of the boot area"},
        {4, 1030, "outside the device"},
        {4, 7,    "logical block 7 lies there too"},
        {4, 1010, ""},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flag);
        TestModule m("pxa300-f1ec");
        std::filesystem::path dir = module_dir(m);
        std::vector<uint8_t> entry = {uint8_t(c.logical), uint8_t(c.logical >> 8), uint8_t(c.physical),
                                      uint8_t(c.physical >> 8)};
        poke_file(dir / "nand-0.main", 0x1F804, entry);
        poke_file(dir / "objects/NAND_FLASH_BBMT.map", 4 + 2 * c.logical, {entry[2], entry[3]});
        std::string expected = "logical block 4 -> physical block " + std::to_string(c.physical);
        if (*c.flag) expected += std::string(" (DAMAGED: ") + c.flag + "; an update stops before it erases)";
        int result = -1;
        for (const char* command : {"reloc-table", "block-map"}) {
            std::string text = run(command, {dir.string()}, &result);
            EXPECT_EQ(result, 0);
            EXPECT_NE(text.find(expected + "\n"), std::string::npos) << command << "\n" << text;
        }
    }
}

TEST(NandCommands, LogicalViewFollowsTheBootAreaAndTheBlockMap) {
    TestModule m("pxa300-f1ec");
    std::filesystem::path dir = module_dir(m);
    poke_file(dir / "nand-0.main", 0x1F7FC, {1, 2, 3, 4});                    // logical 0x1F7FC
    poke_file(dir / "nand-0.main", 0x20000, {5, 6, 7, 8});                    // logical 0x1F800: after the table page
    poke_file(dir / "nand-0.main", 3u * 0x20000 + 16, {9, 10});               // logical block 3's own place ...
    poke_file(dir / "nand-0.main", 7u * 0x20000 + 16, {11, 12});              // ... block 7, mapped as logical block 5
    poke_file(dir / "objects/NAND_FLASH_BBMT.map", 4 + 2 * 3, {0xF2, 0x03});  // 3 -> 1010 (never written)
    poke_file(dir / "objects/NAND_FLASH_BBMT.map", 4 + 2 * 5, {0x07, 0x00});  // 5 -> 7
    struct Case {
        uint64_t offset;
        std::vector<uint8_t> expected;
    };
    // clang-format off
    const Case cases[] = {
        {0x1F7FC, {1, 2, 3, 4, 5, 6, 7, 8}},
        {0x3F800 - 2, {0xFF, 0xFF, 0xFF, 0xFF}},  // the boot area's last page is not stored
        {3 * 0x20000 + 16, {0xFF, 0xFF}},          // moved to the erased block 1010
        {5 * 0x20000 + 16, {11, 12, 0xFF}},
        {7 * 0x20000 + 16, {11, 12}},              // logical block 7 is still its own block too
    };
    // clang-format on
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes;
        std::string error;
        ASSERT_TRUE(read_view(dir, c.offset, c.expected.size(), &bytes, &error)) << error;
        EXPECT_EQ(bytes, c.expected) << std::hex << c.offset;
    }
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_FALSE(read_view(dir, 0x7D80000 - 2, 4, &bytes, &error)) << "past the logical end";

    int result = -1;
    std::filesystem::path out = m.dir() / "view.bin";
    run("export", {dir.string(), out.string(), "--offset", "0x1F7FC", "--length", "8"}, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(testing_support::read_binary(out), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(NandCommands, DoubledBusViewReadsBlockZeroEightBitsWide) {
    TestModule m("pxa320-75ec");
    std::filesystem::path dir = module_dir(m);
    poke_file(dir / "nand-0.main", 0x100, {0x11, 0x22});   // device 0x100, 8-bit
    poke_file(dir / "nand-0.main", 0x4000, {0x33, 0x44});  // device 0x4000: logical block 1's low lane
    poke_file(dir / "nand-0.main", 0x4100, {0x55, 0x66});  // device 0x8200 lane 0 = logical 0x8200, 0x8202
    poke_file(dir / "nand-1.main", 0x4100, {0x77, 0x88});  // lane 1
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(read_view(dir, 0x100, 2, &bytes, &error));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x11, 0x22}));
    // The boot area stores nothing past chip 0's first block.
    ASSERT_TRUE(read_view(dir, 0x3E00, 2, &bytes, &error));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0xFF, 0xFF}));
    ASSERT_TRUE(read_view(dir, 0x8200, 4, &bytes, &error));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x55, 0x77, 0x66, 0x88}));
}

TEST(NandCommands, InjectedFaultsLandInTheProfileAndTakeEffect) {
    TestModule m("pxa320-dcad");
    std::filesystem::path dir = module_dir(m);
    int result = -1;
    std::string text = run("inject-bad-block", {dir.string(), "4100"}, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(text, "block 4100 (chip 1 block 4) now fails program and erase\n");
    run("inject-bitflip", {dir.string(), "77", "--uncorrectable"}, &result);
    EXPECT_EQ(result, 0);
    // Each listing of a missed start counts once.
    run("inject-missed-start", {dir.string(), "erase", "4101"}, &result);
    text = run("inject-missed-start", {dir.string(), "erase", "4101", "--times", "2"}, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(text, "block 4101 (chip 1 block 5): its next 2 erases miss their start, then it works again\n");
    text = run("inject-bad-block", {dir.string(), "8192"}, &result);
    EXPECT_EQ(result, 2);
    EXPECT_NE(text.find("beyond the last, 8191"), std::string::npos) << text;
    sim::Config profile;
    ASSERT_TRUE(profile.load((dir / "module.toml").string(), nullptr));
    EXPECT_EQ(profile.get_u32_list("nand.bad_blocks"), std::vector<uint32_t>{4100});
    EXPECT_EQ(profile.get_u32_list("nand.fault.uncorrectable"), std::vector<uint32_t>{77});
    EXPECT_EQ(profile.get_u32_list("nand.fault.missed_erase"), (std::vector<uint32_t>{4101, 4101, 4101}));
    text = run("bad-blocks", {dir.string()}, &result);
    EXPECT_EQ(text, "chip 1 block 4 (device block 4100): fails program and erase\n");
    m.reopen();
    EXPECT_TRUE(testing_support::find_nand_controller(m.module())->chip(1).faults().bad_blocks.count(4));
    EXPECT_EQ(testing_support::find_nand_controller(m.module())->chip(1).faults().missed_erases.count(5), 3u);
}

TEST(NandCommands, BadBlocksListsFactoryMarkers) {
    TestModule m("pxa320-d3ec", {"nand.bad_blocks=[7]"});
    int result = -1;
    std::string text = run("bad-blocks", {module_dir(m).string()}, &result);
    EXPECT_EQ(text, "chip 0 block 7 (device block 7): fails program and erase, factory marker\n");
    poke_file(module_dir(m) / "nand-0.oob", 9 * 64 * 64 + 64, {0x00});  // a marker in page 1 of block 9
    text = run("bad-blocks", {module_dir(m).string()}, &result);
    EXPECT_NE(text.find("chip 0 block 9 (device block 9): factory marker\n"), std::string::npos) << text;
    nlohmann::json j = nlohmann::json::parse(run("bad-blocks", {module_dir(m).string(), "--json"}, &result));
    EXPECT_EQ(j[1], nlohmann::json::parse(R"({"chip": 0, "block": 9, "device_block": 9,
                                               "fails_program_and_erase": false, "factory_marker": true})"));
}

// Export names every page a reader with ECC would find wrong, and fails.
TEST(NandCommands, ExportNamesPagesWithEccErrors) {
    // Page 400 of pxa300-f1ec (logical 0xC8000) holds data with its ECC as
    // the controller stores it.
    std::vector<uint8_t> data(2048);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> ecc(24);
    sim::ecc_compute(data.data(), data.size(), ecc.data());
    struct Case {
        const char* name;
        std::vector<std::string> sets;
        size_t flip;        // a stored data bit turned over (bit 0 of this byte); 0: none
        bool without_ecc;   // the page was programmed with ECC off
        const char* names;  // "" when the export is clean
    };
    const Case cases[] = {
        {"clean", {}, 0, false, ""},
        {"a stored bit turned over", {}, 0x123, false, "chip 0 page 400: ECC corrects a flipped bit"},
        {"injected flip", {"nand.fault.bitflip=[400]"}, 0, false, "chip 0 page 400: ECC corrects a flipped bit"},
        {"injected double flip", {"nand.fault.uncorrectable=[400]"}, 0, false, "chip 0 page 400: uncorrectable"},
        {"no ECC stored", {}, 0x123, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestModule m("pxa300-f1ec", c.sets);
        std::filesystem::path dir = module_dir(m);
        std::vector<uint8_t> stored = data;
        if (c.flip) stored[c.flip] ^= 1;
        poke_file(dir / "nand-0.main", 400 * 2048, stored);
        if (!c.without_ecc) poke_file(dir / "nand-0.oob", 400 * 64 + 40, ecc);
        int result = -1;
        std::string text =
            run("export", {dir.string(), (m.dir() / "v.bin").string(), "--offset", "0xC7800", "--length", "0x1000"},
                &result);
        EXPECT_EQ(result, *c.names ? 1 : 0) << text;
        if (*c.names) {
            EXPECT_NE(text.find(std::string("modulectl export: ") + c.names), std::string::npos) << text;
        }
        EXPECT_EQ(testing_support::read_binary(m.dir() / "v.bin").size(), 0x1000u)
            << "the bytes are written all the same";
    }
}

TEST(NandCommands, PinReport) {
    TestModule m("pxa320-75ec");
    m.module().bus().write32(0x40E10000 + 0x4DC, 0x0000A840);
    m.module().bus().write32(0x40E00000 + 0x408, 1u << 9);
    m.module().bus().write32(0x40E00000 + 0x20, 1u << 9);
    int result = -1;
    std::string text = run("pin", {module_dir(m).string()}, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(text, "pin 73: function 0, output, high (MFPR at 0x40e104dc = 0x0000a840)\n");
    text = run("pin", {module_dir(m).string(), "140"}, &result);
    EXPECT_EQ(result, 2);
    run("show", {module_dir(m).string()}, &result);
    EXPECT_EQ(result, 2) << "not a NAND command";
}

}  // namespace
