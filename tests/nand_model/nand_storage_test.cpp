// A new module's flash files, their byte layout, and the block map the
// running system builds at boot.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "module/hw/nand/nand_controller.h"
#include "module/hw/nand/nand_layout.h"
#include "tests/nand_model/dfc_sequences.h"
#include "tests/support/test_module.h"

using nand_test::Dfc;
using testing_support::TestModule;

namespace {

using testing_support::poke_file;

struct FactoryCase {
    const char* profile;
    uint32_t table_page;  // chip 0's page
    uint32_t page_bytes;
    uint32_t spare_bytes;
    uint32_t ecc_offset;  // in the spare area
    unsigned chips;
    uint32_t ndcr;  // to read the table page back, ECC on
    uint32_t read_word;
};

TEST(NandStorage, NewModuleHasErasedChipsAndAnEmptyRelocationTable) {
    // clang-format off
    const FactoryCase cases[] = {
        // profile        table page  page  spare ECC at chips  NDCR (8-bit for block 0 of a doubled bus)  read
        {"pxa320-75ec",  31,         512,  16,   8,     2,     0x000A1FFF, 0x00030000},
        {"pxa320-76ec",  31,         512,  16,   8,     2,     0x000C1FFF, 0x00040000},
        {"pxa320-d3ec",  63,         2048, 64,   40,    1,     0x010DDFFF, 0x000D3000},
        {"pxa300-f1ec",  63,         2048, 64,   40,    1,     0x010DDFFF, 0x000C3000},
        {"pxa320-dcad",  63,         2048, 64,   40,    2,     0x010CDFFF, 0x000D3000},
    };
    // clang-format on
    for (const FactoryCase& c : cases) {
        TestModule m(c.profile);
        std::vector<uint8_t> main = m.read_file("nand-0.main");
        std::vector<uint8_t> oob = m.read_file("nand-0.oob");
        ASSERT_EQ(main.size(), (c.table_page + 1) * c.page_bytes) << c.profile << ": the file ends with the table page";
        ASSERT_EQ(oob.size(), (c.table_page + 1) * c.spare_bytes) << c.profile;
        for (size_t i = 0; i < main.size(); ++i) {
            uint8_t expected = i == c.table_page * c.page_bytes       ? 0x4E
                               : i == c.table_page * c.page_bytes + 1 ? 0x52
                                                                      : 0xFF;
            ASSERT_EQ(main[i], expected) << c.profile << " byte " << i;
        }
        for (size_t i = 0; i < oob.size(); ++i) {
            bool ecc = i >= c.table_page * c.spare_bytes + c.ecc_offset &&
                       i < c.table_page * c.spare_bytes + c.ecc_offset + c.page_bytes / 256 * 3;
            if (!ecc) {
                ASSERT_EQ(oob[i], 0xFF) << c.profile << " spare byte " << i;
            }
        }
        for (unsigned chip = 1; chip < c.chips; ++chip) {
            EXPECT_TRUE(std::filesystem::exists(m.dir() / "module" / ("nand-" + std::to_string(chip) + ".main")));
            EXPECT_TRUE(m.read_file("nand-" + std::to_string(chip) + ".main").empty()) << "erased chip, empty file";
        }
        // The table page reads back clean with the controller's ECC on.
        Dfc dfc(m.module());
        dfc.write(sim::NDCR, c.ndcr | sim::kNdcrEccEn);
        uint32_t address = c.page_bytes == 512 ? c.table_page << 8 : c.table_page << 16;
        ASSERT_TRUE(dfc.start(c.read_word, address, 0)) << c.profile;
        ASSERT_TRUE(dfc.wait(sim::kNdsrRdDReq)) << c.profile;
        std::vector<uint32_t> words = dfc.read_words(c.page_bytes / 4);
        EXPECT_TRUE(dfc.wait(sim::kNdsrCs0Cmdd)) << c.profile;
        EXPECT_EQ(dfc.read(sim::NDSR) & (sim::kNdsrSbErr | sim::kNdsrDbErr), 0u) << c.profile;
        EXPECT_EQ(words[0], 0xFFFF524Eu) << c.profile;
    }
}

struct MarkerCase {
    const char* profile;
    const char* bad_blocks;
    const char* oob_file;
    uint64_t marker_offset;  // page 0's marker byte in that file
    uint32_t page_spare;
};

TEST(NandStorage, ListedBadBlocksCarryFactoryMarkers) {
    // clang-format off
    const MarkerCase cases[] = {
        {"pxa320-d3ec", "[7]",    "nand-0.oob", 7 * 64 * 64 + 0, 64},
        {"pxa320-75ec", "[2051]", "nand-1.oob", 3 * 32 * 16 + 5, 16},
        {"pxa320-dcad", "[4100]", "nand-1.oob", 4 * 64 * 64 + 0, 64},
    };
    // clang-format on
    for (const MarkerCase& c : cases) {
        TestModule m(c.profile, {std::string("nand.bad_blocks=") + c.bad_blocks});
        std::vector<uint8_t> oob = m.read_file(c.oob_file);
        ASSERT_GT(oob.size(), c.marker_offset + c.page_spare) << c.profile;
        EXPECT_EQ(oob[c.marker_offset], 0x00) << c.profile << " page 0";
        EXPECT_EQ(oob[c.marker_offset + c.page_spare], 0x00) << c.profile << " page 1";
        size_t others = 0;
        for (uint8_t b : oob) others += b != 0xFF;
        size_t table_ecc = std::string(c.oob_file) == "nand-0.oob" ? 24 : 0;
        EXPECT_LE(others, 2 + table_ecc) << c.profile << ": nothing else programmed";
    }
}

TEST(NandStorage, FileGrowsWithErasedGapsAndPagesSitInPageOrder) {
    TestModule m("pxa300-f1ec");
    Dfc dfc(m.module());
    dfc.write(sim::NDCR, 0x010DDFFF | sim::kNdcrSpareEn);
    std::vector<uint32_t> data(512 + 16);
    for (size_t i = 0; i < data.size(); ++i) data[i] = 0x00010203u + static_cast<uint32_t>(i);
    ASSERT_TRUE(dfc.start(0x022C1080, 200u << 16, 0));
    ASSERT_TRUE(dfc.wait(sim::kNdsrWrDReq));
    dfc.write_words(data);
    ASSERT_EQ(dfc.finish(), 0);
    std::vector<uint8_t> main = m.read_file("nand-0.main");
    std::vector<uint8_t> oob = m.read_file("nand-0.oob");
    ASSERT_EQ(main.size(), 201u * 2048);
    ASSERT_EQ(oob.size(), 201u * 64);
    for (size_t i = 64 * 2048; i < 200 * 2048; ++i) ASSERT_EQ(main[i], 0xFF) << "gap byte " << i;
    EXPECT_EQ(main[200 * 2048 + 0], 0x03);
    EXPECT_EQ(main[200 * 2048 + 4], 0x04);
    EXPECT_EQ(oob[200 * 64 + 0], 0x03);  // word 512 starts the spare area
    EXPECT_EQ(oob[200 * 64 + 63], 0x00);
}

std::vector<uint16_t> map_entries(const std::vector<uint8_t>& map, size_t count) {
    std::vector<uint16_t> out;
    for (size_t i = 0; i < count; ++i) out.push_back(static_cast<uint16_t>(map[4 + 2 * i] | map[5 + 2 * i] << 8));
    return out;
}

TEST(NandStorage, RunningSystemBuildsTheBlockMapFromTheTablePage) {
    TestModule m("pxa320-75ec");
    std::vector<uint8_t> map = m.read_file("objects/NAND_FLASH_BBMT.map");
    ASSERT_EQ(map.size(), 16388u);
    EXPECT_EQ(std::vector<uint8_t>(map.begin(), map.begin() + 4), (std::vector<uint8_t>{'B', 'B', 'M', 'T'}));
    std::vector<uint16_t> entries = map_entries(map, 2048);
    for (uint16_t i = 0; i < 2048; ++i) ASSERT_EQ(entries[i], i);

    // Table {header, (5, 2040), (0, 2041), (7, 9000: outside), end}: only (5, 2040) applies.
    std::filesystem::remove(m.dir() / "module/objects/NAND_FLASH_BBMT.map");
    poke_file(m.dir() / "module/nand-0.main", 0x3E00 + 4, {5, 0, 0xF8, 0x07, 0, 0, 0xF9, 0x07, 7, 0, 0x28, 0x23});
    m.reopen();
    entries = map_entries(m.read_file("objects/NAND_FLASH_BBMT.map"), 2048);
    for (uint16_t i = 0; i < 2048; ++i) EXPECT_EQ(entries[i], i == 5 ? 2040 : i) << i;
}

TEST(NandStorage, BlockMapIsLeftToTheProgramWhenTheSystemDoesNotBuildIt) {
    TestModule m("pxa320-d3ec", {"nand.os_builds_bbmt=false"});
    EXPECT_FALSE(std::filesystem::exists(m.dir() / "module/objects/NAND_FLASH_BBMT.map"));
    TestModule damaged("pxa320-d3ec");
    std::filesystem::remove(damaged.dir() / "module/objects/NAND_FLASH_BBMT.map");
    poke_file(damaged.dir() / "module/nand-0.main", 0x1F800, {0x00});
    damaged.reopen();
    EXPECT_FALSE(std::filesystem::exists(damaged.dir() / "module/objects/NAND_FLASH_BBMT.map"))
        << "no table header: the running system's driver builds no map";
}

TEST(NandStorage, ControllerIsOnTheBusOfNandModulesOnly) {
    TestModule nand("pxa320-d3ec");
    ASSERT_NE(testing_support::find_nand_controller(nand.module()), nullptr);
    EXPECT_EQ(testing_support::find_nand_controller(nand.module())->chip_count(), 1u);
}

}  // namespace
