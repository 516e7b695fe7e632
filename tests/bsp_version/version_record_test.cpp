// The search for the bootloader's version record in the first 256 KiB of flash.
#include <gtest/gtest.h>

#include <functional>

#include "app/bsp_version.h"
#include "flash/flash_ops.h"
#include "tests/bsp_version/bsp_fixture.h"

namespace bsp_test {
namespace {

struct SearchCase {
    const char* name;
    std::function<void(BspFixture&)> arrange;
    bool found;
    VersionRecord record;
};

// clang-format off
const SearchCase kSearchCases[] = {
    {"at offset 0", [](BspFixture& f) { f.place_version_record(0, 1, 2, 7); }, true, {1, 2, 7}},
    {"at the last word of a page",
     [](BspFixture& f) { f.place_version_record(0x0FFC, 1, 3, 4); },
     true,
     {1, 3, 4}},
    {"end marker in the next page",
     [](BspFixture& f) { f.place_version_record(0x1FF0, 2, 5, 6); },
     true,
     {2, 5, 6}},
    {"start marker at the last word searched",
     [](BspFixture& f) { f.place_version_record(0x3FFFC, 1, 8, 9); },
     true,
     {1, 8, 9}},
    {"beyond the first 256 KiB", [](BspFixture& f) { f.place_version_record(0x40000, 1, 2, 7); }, false, {}},
    {"false start marker, then a proper record",
     [](BspFixture& f) {
         f.poke_words(0x100, {0x01234567, 1, 1, 1, 0x89ABCDEE});
         f.place_version_record(0x2000, 1, 4, 0x00020001);
     },
     true,
     {1, 4, 0x00020001}},
    {"end marker one word too far",
     [](BspFixture& f) { f.poke_words(0x100, {0x01234567, 1, 1, 1, 0, 0x89ABCDEF}); },
     false,
     {}},
    {"start marker inside another record's frame",
     [](BspFixture& f) { f.poke_words(0x500, {0x01234567, 0x01234567, 7, 8, 9, 0x89ABCDEF}); },
     true,
     {7, 8, 9}},
    {"two records, the lower wins",
     [](BspFixture& f) {
         f.place_version_record(0x30000, 1, 9, 9);
         f.place_version_record(0x2FFFC, 1, 1, 1);
     },
     true,
     {1, 1, 1}},
    {"erased flash", [](BspFixture&) {}, false, {}},
};
// clang-format on

class VersionRecordSearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(VersionRecordSearch, FindsTheFirstFramedRecord) {
    const SearchCase& c = GetParam();
    BspFixture f;
    ASSERT_EQ(SelectFlashBackend(), kFlashBackendNor);
    c.arrange(f);
    VersionRecord record = {0, 0, 0};
    EXPECT_EQ(FindVersionRecord(&record) != FALSE, c.found);
    EXPECT_EQ(record.boardId, c.record.boardId);
    EXPECT_EQ(record.major, c.record.major);
    EXPECT_EQ(record.minorWord, c.record.minorWord);
}

INSTANTIATE_TEST_SUITE_P(Flash, VersionRecordSearch, ::testing::ValuesIn(kSearchCases), CaseName<SearchCase>);

// Without a back-end every read fails and nothing is found.
TEST(FindVersionRecord, NoBackEndNoRecord) {
    BspFixture f;
    f.place_version_record(0, 1, 2, 7);
    VersionRecord record = {0, 0, 0};
    EXPECT_FALSE(FindVersionRecord(&record));
    EXPECT_EQ(record.major, 0u);
    BYTE* copy = reinterpret_cast<BYTE*>(1);
    EXPECT_EQ(FindBanner(&copy), nullptr);
    EXPECT_EQ(copy, nullptr);
}

TEST(FindBanner, PointsJustAfterThePrefixInsideTheCopy) {
    BspFixture f;
    ASSERT_EQ(SelectFlashBackend(), kFlashBackendNor);
    f.place_banner(0x8123, "7.1 for Zantrel Fennaro Built Jan 2 2003");
    BYTE* copy = nullptr;
    const char* text = FindBanner(&copy);
    ASSERT_NE(text, nullptr);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(text - reinterpret_cast<const char*>(copy), 0x123 + 41);
    EXPECT_EQ(std::string(text, 3), "7.1");
    LocalFree(copy);
}

}  // namespace
}  // namespace bsp_test
