// The overwrite warning: which sections a range touches, the exact text, and
// the user's answer.
#include <gtest/gtest.h>

#include "module/observer.h"
#include "tests/sections/section_fixture.h"
#include "update/section_map.h"

namespace sections_test {
namespace {

using Bytes = std::vector<uint8_t>;

const char16_t kHeading[] = u"This Image will overwrite the following sections:\n";
const char16_t kQuestion[] = u"\n\nAre you sure you want to continue?";

// Flash laid out as the map expects: bootloader 0..0x40000, configuration block
// 0x40000..0x80000, image 0x80000..0x280000, registry 0x1400000..0x1480000
// (item 5), file system 0x14800000..0x20000000 (defaults).
void LayOutFlash(SectionFixture& f) {
    f.place_rom_image(0, 0x30000);
    f.place_config_block(0x40000, 40);
    f.place_rom_image(0x80000, 0x200000);
}

std::u16string Expected(std::initializer_list<const char16_t*> names) {
    std::u16string text = kHeading;
    for (const char16_t* name : names) text += std::u16string(name) + u"\n";
    return text + kQuestion;
}

struct RangeCase {
    const char* name;
    uint32_t start, length;
    std::vector<const char16_t*> sections;  // empty: no question
};

const RangeCase kRangeCases[] = {
    {"the image over itself", 0x80000, 0x200000, {u"IMAGE"}},
    {"one byte before the image's end", 0x27FFFF, 1, {u"IMAGE"}},
    {"beginning at the image's end", 0x280000, 0x100, {}},
    {"ending at the registry's start", 0x280000, 0x1180000, {}},
    {"one byte into the registry", 0x280000, 0x1180001, {u"Registry"}},
    {"beginning at the registry's end", 0x1480000, 0x1000, {}},
    {"last byte of the registry", 0x147FFFF, 1, {u"Registry"}},
    {"bootloader and configuration block", 0x3FFF0, 0x20, {u"Bootloader", u"ConfigBlock"}},
    {"ending at the configuration block's start", 0, 0x40000, {u"Bootloader"}},
    {"straddling the file system's start", 0x147FFFFF, 2, {u"FileSystem"}},
    {"everything", 0, 0x20000000, {u"Bootloader", u"ConfigBlock", u"IMAGE", u"Registry", u"FileSystem"}},
    // The rule compares ends, so even an empty range inside a section touches it.
    {"an empty range inside a section", 0x100000, 0, {u"IMAGE"}},
};

class TouchedSections : public ::testing::TestWithParam<RangeCase> {};

TEST_P(TouchedSections, ListsExactlyTheTouchedOnes) {
    const RangeCase& c = GetParam();
    SectionFixture f;
    LayOutFlash(f);
    f.ui().answer("ok");
    EXPECT_TRUE(WarnOverwrite(c.start, c.length, nullptr));
    if (c.sections.empty()) {
        EXPECT_TRUE(f.boxes().empty()) << "no question without a touched section";
        return;
    }
    ASSERT_EQ(f.boxes().size(), 1u);
    std::u16string expected = kHeading;
    for (const char16_t* name : c.sections) expected += std::u16string(name) + u"\n";
    expected += kQuestion;
    EXPECT_EQ(sim::utf8(f.boxes()[0].text), sim::utf8(expected));
    EXPECT_EQ(f.boxes()[0].caption, u"WARNING");
    EXPECT_EQ(f.boxes()[0].flags, 0x131u);
}

INSTANTIATE_TEST_SUITE_P(Ranges, TouchedSections, ::testing::ValuesIn(kRangeCases),
                         CaseName<TouchedSections::ParamType>);

TEST(WarnOverwrite, TwoSectionsTextLineByLine) {
    SectionFixture f;
    LayOutFlash(f);
    f.ui().answer("ok");
    WarnOverwrite(0, 0x50000, nullptr);
    ASSERT_EQ(f.boxes().size(), 1u);
    EXPECT_EQ(sim::utf8(f.boxes()[0].text),
              "This Image will overwrite the following sections:\nBootloader\nConfigBlock\n\n\n"
              "Are you sure you want to continue?");
}

// An empty section counts when its start lies strictly inside the range.
TEST(WarnOverwrite, EmptyConfigBlockInsideTheRangeCounts) {
    SectionFixture f;
    f.ui().answer("ok");
    EXPECT_TRUE(WarnOverwrite(0, 0x50000, nullptr));
    ASSERT_EQ(f.boxes().size(), 1u);
    EXPECT_EQ(sim::utf8(f.boxes()[0].text), sim::utf8(Expected({u"ConfigBlock"})));
    // Starting exactly at the empty section's start does not touch it.
    EXPECT_TRUE(WarnOverwrite(0x40000, 0x100, nullptr));
    EXPECT_EQ(f.boxes().size(), 1u);
}

struct AnswerCase {
    const char* name;
    const char* answer;  // nullptr: no scripted answer, the default button
    bool goes_on;
    int button;
};

const AnswerCase kAnswerCases[] = {
    {"ok", "ok", true, 1},
    {"cancel", "cancel", false, 2},
    {"default button", nullptr, false, 2},
};

class Answers : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(Answers, CancelStopsTheUpdate) {
    const AnswerCase& c = GetParam();
    SectionFixture f;
    LayOutFlash(f);
    if (c.answer) f.ui().answer(c.answer);
    EXPECT_EQ(WarnOverwrite(0x80000, 0x200000, nullptr) != FALSE, c.goes_on);
    ASSERT_EQ(f.boxes().size(), 1u);
    EXPECT_EQ(f.boxes()[0].answer, c.button);
}

INSTANTIATE_TEST_SUITE_P(Buttons, Answers, ::testing::ValuesIn(kAnswerCases), CaseName<Answers::ParamType>);

// The move happens while the warning is prepared and stays done when the user declines.
TEST(WarnOverwrite, DeclinedWarningKeepsTheMovedBlock) {
    SectionFixture f;
    f.place_config_block(0x88000, 0x30);
    f.ui().answer("cancel");
    EXPECT_FALSE(WarnOverwrite(0, 0x100000, nullptr));
    ASSERT_EQ(f.boxes().size(), 1u);
    // The block's section starts at the old place, which the range covers, as
    // it covers the empty IMAGE section at 0xC8000.
    EXPECT_EQ(sim::utf8(f.boxes()[0].text), sim::utf8(Expected({u"ConfigBlock", u"IMAGE"})));
    EXPECT_EQ(SectionMap[kSectionConfigBlock].start, 0x88000u);
    EXPECT_EQ(f.peek(0x40000, 0x34), f.peek(0x88000, 0x34));
}

}  // namespace
}  // namespace sections_test
