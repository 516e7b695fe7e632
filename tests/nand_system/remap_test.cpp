// The shared block map, the relocation table page, the search for a
// replacement block and relocation, checked in the map and the chip files.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "flash/flash_ops.h"
#include "flash/nand/dfc_driver.h"
#include "flash/nand/nand_flash.h"
#include "flash/nand/nand_remap.h"
#include "tests/nand_system/nand_test_support.h"

using namespace nand_test;

namespace {

std::vector<uint8_t> TablePage(size_t length, const std::vector<std::pair<uint16_t, uint16_t>>& entries,
                               bool endMark = true) {
    std::vector<uint8_t> page(length, 0xFF);
    page[0] = 0x4E;
    page[1] = 0x52;
    size_t slot = 4;
    for (const auto& [logical, physical] : entries) {
        page[slot] = static_cast<uint8_t>(logical);
        page[slot + 1] = static_cast<uint8_t>(logical >> 8);
        page[slot + 2] = static_cast<uint8_t>(physical);
        page[slot + 3] = static_cast<uint8_t>(physical >> 8);
        slot += 4;
    }
    if (!endMark) {
        EXPECT_EQ(length, slot) << "a page without an end mark is full";
    }
    return page;
}

// A fresh module whose table page (chip 0, offset given) holds the page.
std::unique_ptr<testing_support::TestModule> ModuleWithTable(const std::string& profile, uint64_t tableOffset,
                                                             const std::vector<uint8_t>& page) {
    ResetSystemState();
    auto module =
        std::make_unique<testing_support::TestModule>(profile, std::vector<std::string>{"nand.os_builds_bbmt=false"});
    PokeChipFile(*module, "nand-0.main", tableOffset, page);
    module->reopen();
    return module;
}

TEST(NandBackendInit, BuildsTheMapFromTheTablePage) {
    // Nothing after the end mark counts, whatever the slots there hold.
    auto module =
        ModuleWithTable("pxa320-75ec", 0x3E00, TablePage(512, {{5, 2040}, {0, 2041}, {0xFFFF, 0}, {6, 2039}}));
    ASSERT_EQ(kFlashBackendNand, SelectFlashBackend());
    ASSERT_TRUE(BbmtMapValid());
    EXPECT_EQ(2040u, BbmtMapEntry(5));
    for (DWORD block = 0; block < 2048; block++) {
        if (block != 5) {
            ASSERT_EQ(block, BbmtMapEntry(block)) << block;
        }
    }
    // The map is the shared object the running system's driver sees too.
    std::vector<uint8_t> shared = module->read_file("objects/NAND_FLASH_BBMT.map");
    ASSERT_GE(shared.size(), 16388u);
    EXPECT_EQ(0, std::memcmp(shared.data(), "BBMT", 4));
    EXPECT_EQ(2040, shared[4 + 2 * 5] | shared[5 + 2 * 5] << 8);
}

TEST(NandBackendInit, LaterEntriesWinAndDamagedEntriesStayOutOfTheMap) {
    // Every slot used, no end mark; entries past the map, past the device or
    // onto block 0 are left out.
    std::vector<std::pair<uint16_t, uint16_t>> entries = {
        {7, 1010}, {7, 1011}, {9000, 1012}, {8, 0}, {9, 5000}, {1200, 1013},
    };
    while (entries.size() < (2048 - 4) / 4) {
        entries.push_back({0, 1000});
    }
    auto module = ModuleWithTable("pxa300-f1ec", 0x1F800, TablePage(2048, entries, false));
    ASSERT_EQ(kFlashBackendNand, SelectFlashBackend());
    EXPECT_EQ(1011u, BbmtMapEntry(7));
    EXPECT_EQ(8u, BbmtMapEntry(8));
    EXPECT_EQ(9u, BbmtMapEntry(9));
    EXPECT_EQ(1023u, BbmtMapEntry(1023));
    EXPECT_EQ(0u, BbmtMapEntry(1200)) << "past the part's blocks the map stays as it was";
    EXPECT_EQ(511u, CountRelocEntries());
    DWORD block = 0, slot = 0;
    EXPECT_FALSE(FindReplacementBlock(3, &block, &slot)) << "no free slot in a full table";
}

TEST(NandBackendInit, ATablePageWithoutHeaderFailsAndLeavesNoMagic) {
    auto module = ModuleWithTable("pxa320-d3ec", 0x1F800, std::vector<uint8_t>(2, 0x00));
    EXPECT_EQ(0, SelectFlashBackend());
    EXPECT_FALSE(BbmtMapValid());
    EXPECT_EQ(0x3EBA0000u, FlashDeviceSize);
}

TEST(NandBackendInit, ReserveAndDeviceSizeOfTheSmallLargePagePart) {
    auto module = OpenNand("pxa300-f1ec", {"nand.os_builds_bbmt=false"});
    EXPECT_EQ(20u, ReserveBlockCount);
    EXPECT_EQ(0x7D80000u, FlashDeviceSize);
    EXPECT_EQ(3u, LogicalBlockIndex(0x7FFFF));
    EXPECT_EQ(17u, BlockShift);
}

struct ReplacementCase {
    const char* name;
    const char* profile;  // pxa320-75ec: 512-byte table page; pxa300-f1ec: 2048 bytes
    std::vector<std::pair<uint16_t, uint16_t>> entries;
    DWORD logical;
    bool found;
    DWORD block;
};

// Void entries naming a block past the device: they fill slots and name no
// block the search could hand out.
std::vector<std::pair<uint16_t, uint16_t>> VoidEntries(size_t count) {
    return std::vector<std::pair<uint16_t, uint16_t>>(count, {0, 4000});
}

TEST(FindReplacementBlock, SearchesBelowEveryNamedBlock) {
    std::vector<std::pair<uint16_t, uint16_t>> allReserve;
    for (uint16_t physical = 2008; physical < 2048; physical++) {
        allReserve.push_back({static_cast<uint16_t>(physical - 2000), physical});
    }
    // clang-format off
    const ReplacementCase cases[] = {
        // name                                   profile        entries          logical found block
        {"no entries",                            "pxa320-75ec", {},                        9, true,  2047},
        {"two live entries",                      "pxa320-75ec", {{5, 2047}, {6, 2046}},    9, true,  2045},
        {"a void entry too",                      "pxa320-75ec", {{5, 2047}, {6, 2046}, {0, 2045}}, 9, true, 2044},
        {"void entries out of order",             "pxa320-75ec", {{0, 2046}, {5, 2047}, {0, 2045}}, 9, true, 2044},
        {"the failing block's own entry",         "pxa320-75ec", {{5, 2047}, {9, 2046}},    9, true,  2045},
        {"every reserve block named",             "pxa320-75ec", allReserve,                9, false, 0},
        {"a damaged entry naming block 0",        "pxa320-75ec", {{5, 0}},                  9, false, 0},
        {"an entry past the device",              "pxa320-75ec", {{5, 4000}},               9, true,  2047},
        {"an end mark whose other half is programmed", "pxa320-75ec", {{5, 2047}, {0xFFFF, 0xE6FF}}, 9, false, 0},
        {"a programmed slot after the end mark",  "pxa320-75ec", {{5, 2047}, {0xFFFF, 0xFFFF}, {0x1234, 0xFFFF}}, 9, false, 0},
        // The end mark in the last slot: the new entry would leave no end mark.
        {"one entry short of full, 512-byte page",  "pxa320-75ec", VoidEntries(126), 9, false, 0},
        {"two entries short of full, 512-byte page", "pxa320-75ec", VoidEntries(125), 9, true, 2047},
        {"one entry short of full, 2048-byte page", "pxa300-f1ec", VoidEntries(510), 9, false, 0},
        {"two entries short of full, 2048-byte page", "pxa300-f1ec", VoidEntries(509), 9, true, 1023},
    };
    // clang-format on
    std::unique_ptr<testing_support::TestModule> module;
    std::string open;
    for (const ReplacementCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (open != c.profile) {
            module.reset();
            module = OpenNand(c.profile, {"nand.os_builds_bbmt=false"});
            open = c.profile;
        }
        // Erased bytes past the page: a search that reads beyond it finds another end mark there.
        std::vector<uint8_t> page = TablePage(RelocTableLength, c.entries);
        std::memset(RelocTableBuffer, 0xFF, sizeof RelocTableBuffer);
        std::memcpy(RelocTableBuffer, page.data(), page.size());
        DWORD block = 0, slot = 0;
        EXPECT_EQ(c.found, FindReplacementBlock(c.logical, &block, &slot) != 0);
        if (c.found) {
            EXPECT_EQ(c.block, block);
            EXPECT_EQ(c.entries.size(), slot);
        }
        for (size_t k = 0; k < c.entries.size(); k++) {
            DWORD expectedLogical = c.entries[k].first == c.logical ? 0 : c.entries[k].first;
            EXPECT_EQ(expectedLogical, RelocEntryLogical(static_cast<DWORD>(k))) << "entry " << k;
        }
    }
}

struct RemapCase {
    const char* name;
    std::vector<std::pair<uint16_t, uint16_t>> table;
    std::vector<std::pair<uint16_t, uint16_t>> mapChanges;  // made in the shared map after the start
    DWORD damage;
    DWORD logical;
    DWORD physical;
};

// The map is checked first (every access follows it), then the page. Entries
// the map build leaves out of the map are still found in the page.
TEST(NandCheckRemap, FindsTheFirstEntryAnUpdateMustNotFollow) {
    // clang-format off
    const RemapCase cases[] = {
        {"sound",                                {{5, 1010}, {0, 1011}}, {},          kRemapSound,        0, 0},
        {"table onto block 0",                   {{4, 0}},               {},          kRemapTableDamaged, 4, 0},
        {"table past the device",                {{4, 1030}},            {},          kRemapTableDamaged, 4, 1030},
        {"table onto the boot area's 2nd block", {{4, 1}},               {},          kRemapMapDamaged,   4, 1},
        {"two blocks onto one",                  {{4, 1010}, {5, 1010}}, {},          kRemapMapDamaged,   5, 1010},
        {"map onto a block in its own place",    {},                     {{3, 7}},    kRemapMapDamaged,   3, 7},
        {"map moves block 0",                    {},                     {{0, 1012}}, kRemapMapDamaged,   0, 1012},
        {"map past the device",                  {},                     {{9, 1024}}, kRemapMapDamaged,   9, 1024},
    };
    // clang-format on
    for (const RemapCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto module = ModuleWithTable("pxa300-f1ec", 0x1F800, TablePage(2048, c.table));
        ASSERT_EQ(kFlashBackendNand, SelectFlashBackend());
        for (const auto& [logical, physical] : c.mapChanges) SetBbmtMapEntry(logical, physical);
        DWORD logical = 0, physical = 0;
        EXPECT_EQ(c.damage, FlashOps.CheckRemap(&logical, &physical));
        EXPECT_EQ(c.logical, logical);
        EXPECT_EQ(c.physical, physical);
    }
}

// Block 5 of the small large-page part, with data in some pages and a mark
// in their spare bytes, then fails every program and erase.
class RelocationDuringWrite : public ::testing::Test {
protected:
    static constexpr uint32_t kBlock = 5;
    static constexpr uint32_t kBlockBytes = 0x20000;
    static constexpr uint32_t kPage = 2048;

    void SetUp() override {
        ResetSystemState();
        module_ = std::make_unique<testing_support::TestModule>(
            "pxa300-f1ec", std::vector<std::string>{"nand.os_builds_bbmt=false", "nand.bad_blocks=[5]"});
        for (uint32_t page : {0u, 1u, 3u, 10u}) {
            pages_[page] = Pattern(kPage, 100 + page);
            spares_[page] = Pattern(8, 200 + page);
            PokeChipFile(*module_, "nand-0.main", uint64_t{kBlock} * kBlockBytes + page * kPage, pages_[page]);
            PokeChipFile(*module_, "nand-0.oob", (uint64_t{kBlock} * 64 + page) * 64, spares_[page]);
        }
        module_->reopen();
        ASSERT_EQ(kFlashBackendNand, SelectFlashBackend());
    }

    std::unique_ptr<testing_support::TestModule> module_;
    std::map<uint32_t, std::vector<uint8_t>> pages_;
    std::map<uint32_t, std::vector<uint8_t>> spares_;
};

TEST_F(RelocationDuringWrite, ThePieceGoesToTheReplacementWithTheKeptPages) {
    std::vector<uint8_t> data = Pattern(kPage + 16, 300);
    ASSERT_TRUE(NandWriteBuffer(data.data(), kBlock * kBlockBytes + 2 * kPage, kPage + 16));

    // The map and the table page name the replacement: the top block.
    EXPECT_EQ(1023u, BbmtMapEntry(kBlock));
    RawChip chip = ReadChip(*module_, 0);
    std::vector<uint8_t> table = chip.main_range(0x1F800, 16);
    EXPECT_EQ((std::vector<uint8_t>{0x4E, 0x52}), std::vector<uint8_t>(table.begin(), table.begin() + 2));
    EXPECT_EQ((std::vector<uint8_t>{5, 0, 0xFF, 0x03, 0xFF, 0xFF, 0xFF, 0xFF}),
              std::vector<uint8_t>(table.begin() + 4, table.begin() + 12));

    uint64_t replacement = uint64_t{1023} * kBlockBytes;
    for (const auto& [page, bytes] : pages_) {
        // Page 3 shares its first 16 bytes with the written range.
        uint32_t from = page == 3 ? 16 : 0;
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + from, bytes.end()),
                  chip.main_range(replacement + page * kPage + from, kPage - from))
            << "page " << page;
        EXPECT_EQ(spares_[page], chip.oob_range((uint64_t{1023} * 64 + page) * 64, 8)) << "spare of page " << page;
    }
    EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + kPage),
              chip.main_range(replacement + 2 * kPage, kPage));
    EXPECT_EQ(std::vector<uint8_t>(data.begin() + kPage, data.end()), chip.main_range(replacement + 3 * kPage, 16))
        << "the written range wins over the kept page where they meet";
    EXPECT_EQ(std::vector<uint8_t>(kPage, 0xFF), chip.main_range(replacement + 4 * kPage, kPage));

    std::vector<uint8_t> back(kBlockBytes, 0);
    ASSERT_TRUE(NandReadBuffer(back.data(), kBlock * kBlockBytes, kBlockBytes));
    EXPECT_EQ(pages_[0], std::vector<uint8_t>(back.begin(), back.begin() + kPage));
    EXPECT_EQ(pages_[10], std::vector<uint8_t>(back.begin() + 10 * kPage, back.begin() + 11 * kPage));
}

TEST_F(RelocationDuringWrite, ErasingTheBadBlockRelocatesItWithoutCopying) {
    ASSERT_TRUE(NandEraseRange(kBlock * kBlockBytes, kBlockBytes));
    EXPECT_EQ(1023u, BbmtMapEntry(kBlock));
    RawChip chip = ReadChip(*module_, 0);
    EXPECT_EQ(std::vector<uint8_t>(kBlockBytes, 0xFF), chip.main_range(uint64_t{1023} * kBlockBytes, kBlockBytes));
    EXPECT_EQ(5, chip.main_at(0x1F800 + 4));
}

TEST(NandRelocation, LogicalBlockZeroIsNeverRelocated) {
    auto module = OpenNand("pxa300-f1ec", {"nand.os_builds_bbmt=false", "nand.bad_blocks=[0]"});
    std::vector<uint8_t> table = ReadChip(*module, 0).main_range(0x1F800, 2048);
    std::vector<uint8_t> data = Pattern(2048, 400);
    EXPECT_FALSE(NandWriteBuffer(data.data(), 0, 2048));
    EXPECT_FALSE(RelocateBlock(0x100, 0));
    EXPECT_FALSE(NandEraseRange(0, 0x20000));
    EXPECT_EQ(0u, BbmtMapEntry(0));
    EXPECT_EQ(table, ReadChip(*module, 0).main_range(0x1F800, 2048));
}

TEST(NandRelocation, ErasingBlockZeroKeepsTheTablePage) {
    for (const char* profile : {"pxa300-f1ec", "pxa320-75ec"}) {
        auto module = OpenNand(profile, {"nand.os_builds_bbmt=false"});
        DWORD tableOffset = RelocTableOffset;
        DWORD tableLength = RelocTableLength;
        std::vector<uint8_t> table = ReadChip(*module, 0).main_range(tableOffset, tableLength);
        std::vector<uint8_t> data = Pattern(tableOffset, 500);
        ASSERT_TRUE(NandWriteBuffer(data.data(), 0, tableOffset)) << profile;
        ASSERT_TRUE(NandEraseRange(0, 1)) << profile;
        RawChip chip = ReadChip(*module, 0);
        EXPECT_EQ(std::vector<uint8_t>(tableOffset, 0xFF), chip.main_range(0, tableOffset)) << profile;
        EXPECT_EQ(table, chip.main_range(tableOffset, tableLength)) << profile;
    }
}

TEST(NandRelocation, ReserveExhaustedFailsTheWrite) {
    std::vector<std::pair<uint16_t, uint16_t>> entries;
    for (uint16_t physical = 1004; physical < 1024; physical++) {
        entries.push_back({static_cast<uint16_t>(physical - 900), physical});
    }
    ResetSystemState();
    auto module = std::make_unique<testing_support::TestModule>(
        "pxa300-f1ec", std::vector<std::string>{"nand.os_builds_bbmt=false", "nand.bad_blocks=[5]"});
    PokeChipFile(*module, "nand-0.main", 0x1F800, TablePage(2048, entries));
    module->reopen();
    ASSERT_EQ(kFlashBackendNand, SelectFlashBackend());
    std::vector<uint8_t> data = Pattern(2048, 600);
    EXPECT_FALSE(NandWriteBuffer(data.data(), 5 * 0x20000, 2048));
    EXPECT_EQ(0xFF, ReadChip(*module, 0).main_at(0x1F800 + 4 + 4 * entries.size()))
        << "no entry written to the table page";
}

}  // namespace

namespace {

TEST(NandRelocation, AnUnreadablePageEndsTheCopyInsteadOfLooping) {
    // Busy operations: reset, table read, the failing program, the reads of
    // the replacement's markers (twice: as a candidate and before its
    // erase), the erase; the tenth, the copy's read of the old block's first
    // page, never ends.
    ResetSystemState();
    auto module = std::make_unique<testing_support::TestModule>(
        "pxa300-f1ec", std::vector<std::string>{"nand.os_builds_bbmt=false", "nand.bad_blocks=[5]",
                                                "nand.fault.never_ready_after=10"});
    PokeChipFile(*module, "nand-0.main", 5 * 0x20000, Pattern(2048, 700));
    module->reopen();
    ASSERT_EQ(kFlashBackendNand, SelectFlashBackend());
    std::vector<uint8_t> table = ReadChip(*module, 0).main_range(0x1F800, 2048);

    testing_support::BusRecorder recorder(module->module());
    std::vector<uint8_t> data = Pattern(2048, 701);
    EXPECT_FALSE(NandWriteBuffer(data.data(), 5 * 0x20000 + 2048, 2048));
    std::vector<std::array<uint32_t, 3>> commands = Commands(recorder);
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ((std::array<uint32_t, 3>{0x000C3000, 0x01400000, 0}), commands.back())
        << "the last command is the read of the old block's first page";
    EXPECT_EQ(table, ReadChip(*module, 0).main_range(0x1F800, 2048)) << "a failed relocation writes no entry";
    std::vector<uint8_t> log = module->read_file("events.log");
    EXPECT_NE(std::string(log.begin(), log.end())
                  .find("nand-0: fault: stays busy after read of page 320 (busy operation 10)"),
              std::string::npos);
}

}  // namespace

namespace {

// Worn cells fail as bad blocks do. Each case erases block 6 and writes its
// first page three times: the operation that wears out moves the logical
// block to the reserve with the last page; failures from a chosen operation
// on leave relocation nowhere to go.
TEST(NandRelocation, AWornBlockOrPageMovesToTheReserveWhenItFails) {
    struct Case {
        const char* name;
        std::vector<std::string> wear;
        bool written;     // the last write's result
        DWORD mapped_to;  // where logical block 6 lies afterwards (when written)
    };
    // clang-format off
    const Case cases[] = {
        {"third erase past the limit",   {"nand.wear.erase_limit=2"},                                       true,  1023},
        {"third program of a weak page", {"nand.wear.page_program_limit=2", "nand.wear.weak_pages=[384]"}, true,  1023},
        {"another page is weak",         {"nand.wear.page_program_limit=2", "nand.wear.weak_pages=[385]"}, true,  6},
        {"failing from the 7th op",      {"nand.wear.fail_from_op=7"},                                     true,  6},
        {"failing from the 6th op",      {"nand.wear.fail_from_op=6"},                                     false, 0},
    };
    // clang-format on
    constexpr DWORD kBlock = 6 * 0x20000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> sets = c.wear;
        sets.push_back("nand.os_builds_bbmt=false");
        auto module = OpenNand("pxa300-f1ec", sets);
        std::vector<uint8_t> data;
        bool written = false;
        for (uint32_t round = 0; round < 3; ++round) {
            data = Pattern(2048, 800 + round);
            ASSERT_TRUE(NandEraseRange(kBlock, 0x20000));
            written = NandWriteBuffer(data.data(), kBlock, 2048) != 0;
        }
        EXPECT_EQ(c.written, written);
        std::vector<uint8_t> back(2048, 0);
        if (c.written) {
            EXPECT_EQ(c.mapped_to, BbmtMapEntry(6));
            ASSERT_TRUE(NandReadBuffer(back.data(), kBlock, 2048));
            EXPECT_EQ(data, back);
        } else {
            EXPECT_EQ(0xFF, ReadChip(*module, 0).main_at(0x1F800 + 4)) << "no entry written to the table page";
            EXPECT_EQ(6u, BbmtMapEntry(6)) << "the map agrees with the table page";
        }
    }
}

}  // namespace
