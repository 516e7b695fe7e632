// The configuration block: found at its place, found at its old place and
// moved page by page, or absent.
#include <gtest/gtest.h>

#include "flash/flash_ops.h"
#include "tests/sections/section_fixture.h"
#include "update/section_map.h"

namespace sections_test {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kErasedWord = {0xFF, 0xFF, 0xFF, 0xFF};

struct PlaceCase {
    const char* name;
    uint32_t size;  // offset of the first erased word
    uint32_t used;
    uint32_t length;
};

const PlaceCase kPlaceCases[] = {
    {"first word only", 4, 4, 0x40000},
    {"erased word 10 of the first page", 40, 40, 0x40000},
    {"last word of the first page", 0xFFC, 0xFFC, 0x40000},
    {"first word of the second page", 0x1000, 0x1000, 0x40000},
    {"word 5 of page 3", 0x3014, 0x3014, 0x40000},
    {"last word of the area", 0x3FFFC, 0x3FFFC, 0x40000},
    {"no erased word in the area", 0x40000, 0x40000, 0x40000},
};

class ConfigBlockAtItsPlace : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(ConfigBlockAtItsPlace, SizeIsTheFirstErasedWord) {
    const PlaceCase& c = GetParam();
    SectionFixture f;
    f.place_config_block(0x40000, c.size);
    Bytes before = f.peek(0x40000, 0x40000);
    EXPECT_TRUE(DetectSectionMap());
    const FlashSection& block = SectionMap[kSectionConfigBlock];
    EXPECT_EQ(block.start, 0x40000u);
    EXPECT_EQ(block.used, c.used);
    EXPECT_EQ(block.length, c.length);
    // A block at its place is only read.
    EXPECT_EQ(f.peek(0x40000, 0x40000), before);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ConfigBlockAtItsPlace, ::testing::ValuesIn(kPlaceCases),
                         CaseName<ConfigBlockAtItsPlace::ParamType>);

struct MoveCase {
    const char* name;
    uint32_t size;
    uint32_t pages_copied;
};

const MoveCase kMoveCases[] = {
    {"erased word in the first page", 0x10, 1},
    {"erased word as the first word of page 2", 0x2000, 3},
    {"erased word late in page 2", 0x2FF0, 3},
    {"no erased word", 0x40000, 64},
};

class ConfigBlockAtItsOldPlace : public ::testing::TestWithParam<MoveCase> {};

TEST_P(ConfigBlockAtItsOldPlace, IsCopiedPageByPageAndKeepsTheOldStart) {
    const MoveCase& c = GetParam();
    SectionFixture f;
    // Something else at the current place, which the move erases.
    f.poke(0x40000, Bytes(0x40000, 0x5A));
    f.place_config_block(0x88000, c.size);
    // Junk after the block's end, in later pages of the old area: not copied.
    if (c.pages_copied < 64) f.poke(0x88000 + 0x1000 * c.pages_copied + 0x20, Bytes(0x40, 0x11));
    Bytes old_area = f.peek(0x88000, 0x40000);

    EXPECT_TRUE(DetectSectionMap());
    const FlashSection& block = SectionMap[kSectionConfigBlock];
    EXPECT_EQ(block.start, 0x88000u);
    EXPECT_EQ(block.used, c.size);
    EXPECT_EQ(block.length, 0x40000u);

    Bytes current = f.peek(0x40000, 0x40000);
    const uint32_t copied = 0x1000 * c.pages_copied;
    EXPECT_TRUE(std::equal(current.begin(), current.begin() + copied, old_area.begin()))
        << "the pages up to the erased word are copied";
    EXPECT_TRUE(std::all_of(current.begin() + copied, current.end(), [](uint8_t b) { return b == 0xFF; }))
        << "the rest of the area is erased";
    // The old place stays as it was.
    EXPECT_EQ(f.peek(0x88000, 0x40000), old_area);

    // The next detection finds the block at its place.
    EXPECT_TRUE(DetectSectionMap());
    EXPECT_EQ(SectionMap[kSectionConfigBlock].start, 0x40000u);
    EXPECT_EQ(SectionMap[kSectionConfigBlock].used, c.size);
}

INSTANTIATE_TEST_SUITE_P(Moves, ConfigBlockAtItsOldPlace, ::testing::ValuesIn(kMoveCases),
                         CaseName<ConfigBlockAtItsOldPlace::ParamType>);

TEST(ConfigBlock, AbsentGivesAnEmptySectionAtItsPlace) {
    SectionFixture f;
    // The magic one word late at either place is no block.
    f.poke_word(0x40004, 0xCF014000);
    f.poke_word(0x88004, 0xCF014000);
    SectionMap[kSectionConfigBlock].used = 77;
    EXPECT_TRUE(DetectSectionMap());
    const FlashSection& block = SectionMap[kSectionConfigBlock];
    EXPECT_EQ(block.start, 0x40000u);
    EXPECT_EQ(block.used, 0u);
    EXPECT_EQ(block.length, 0u);
    EXPECT_EQ(f.peek(0x40000, 8), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x40, 0x01, 0xCF}));
}

TEST(ConfigBlock, TheCurrentPlaceWinsOverTheOldOne) {
    SectionFixture f;
    f.place_config_block(0x40000, 0x20);
    f.place_config_block(0x88000, 0x800);
    Bytes before = f.peek(0x40000, 0x1000);
    DetectSectionMap();
    EXPECT_EQ(SectionMap[kSectionConfigBlock].start, 0x40000u);
    EXPECT_EQ(SectionMap[kSectionConfigBlock].used, 0x20u);
    EXPECT_EQ(f.peek(0x40000, 0x1000), before);
}

struct HookCall {
    uint32_t done, total;
};
std::vector<HookCall> hook_calls;

BOOL RecordErase(DWORD done, DWORD total) {
    hook_calls.push_back({done, total});
    return TRUE;
}

// The move erases through EraseRange, so the progress hook that an update set
// sees it; without a hook nothing is reported.
TEST(ConfigBlock, MoveReportsThroughTheEraseHook) {
    SectionFixture f;
    f.place_config_block(0x88000, 0x100);
    hook_calls.clear();
    SetEraseProgressHook(RecordErase, 0x10000);
    DetectSectionMap();
    ASSERT_EQ(hook_calls.size(), 1u);  // one 256 KiB block
    EXPECT_EQ(hook_calls[0].done, 0u);
    EXPECT_EQ(hook_calls[0].total, 0x40000u);
    EXPECT_EQ(f.peek(0x40000, 4), (Bytes{0x00, 0x40, 0x01, 0xCF}));
}

BOOL RefuseErase(DWORD, DWORD) { return FALSE; }

// An erase that fails leaves the current place as it was instead of
// programming the block over what is there; the section is still reported.
TEST(ConfigBlock, NoCopyOverAnAreaThatWasNotErased) {
    SectionFixture f;
    f.poke(0x40000, Bytes(0x2000, 0x5A));
    f.place_config_block(0x88000, 0x100);
    SetEraseProgressHook(RefuseErase, 0x10000);
    DetectSectionMap();
    EXPECT_EQ(f.peek(0x40000, 0x2000), Bytes(0x2000, 0x5A));
    EXPECT_EQ(SectionMap[kSectionConfigBlock].start, 0x88000u);
    EXPECT_EQ(SectionMap[kSectionConfigBlock].used, 0x100u);
}

}  // namespace
}  // namespace sections_test
