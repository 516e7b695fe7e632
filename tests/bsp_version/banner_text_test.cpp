// Reading the banner's text, bounded by the end of the flash copy, and the
// month names.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "app/bsp_version.h"
#include "tests/bsp_version/bsp_fixture.h"

namespace bsp_test {
namespace {

struct ScanCase {
    const char* name;
    std::string text;  // exactly the bytes up to the copy's end
    int scanned;
    int major, minor;
    const char* month;
    int day, year;
};

const std::string Z("\0", 1);

// clang-format off
const ScanCase kScanCases[] = {
    {"whole banner", "1.3 for Zantrel Fennaro Built Mar 12 2007" + Z, 5, 1, 3, "Mar", 12, 2007},
    {"runs of blanks", "1.3  for \tZantrel\r\nFennaro   Built  Mar\t12 2007" + Z, 5, 1, 3, "Mar", 12, 2007},
    {"no blank needed before for", "1.3for Zantrel Fennaro Built Mar 12 2007" + Z, 5, 1, 3, "Mar", 12, 2007},
    {"signs", "+1.-3 for Zantrel Fennaro Built Feb -1 +99" + Z, 5, 1, -3, "Feb", -1, 99},
    {"text after the year", "2.0 for Zantrel Fennaro Built Oct 1 2010 (release)" + Z, 5, 2, 0, "Oct", 1, 2010},
    {"year cut by the copy's end", "1.3 for Zantrel Fennaro Built Mar 12 20", 4, 1, 3, "Mar", 12, 0},
    {"year ended by a zero byte", "1.3 for Zantrel Fennaro Built Mar 12 20" + Z, 5, 1, 3, "Mar", 12, 20},
    {"month cut by the copy's end", "1.3 for Zantrel Fennaro Built Ma", 2, 1, 3, "", 0, 0},
    {"month ended by a zero byte", "1.3 for Zantrel Fennaro Built Mar" + Z, 3, 1, 3, "Mar", 0, 0},
    {"literal cut by the copy's end", "1.3 for Zantrel Fenn", 2, 1, 3, "", 0, 0},
    {"minor cut by the copy's end", "1.3", 1, 1, 0, "", 0, 0},
    {"nothing at all", "", 0, 0, 0, "", 0, 0},
    {"comma instead of point", "1,3 for Zantrel Fennaro Built Mar 12 2007" + Z, 1, 1, 0, "", 0, 0},
    {"blank before the point", "1 .3 for Zantrel Fennaro Built Mar 12 2007" + Z, 1, 1, 0, "", 0, 0},
    {"other board", "1.3 for Zantrel Other Built Mar 12 2007" + Z, 2, 1, 3, "", 0, 0},
    {"case matters in the literal", "1.3 for zantrel Fennaro Built Mar 12 2007" + Z, 2, 1, 3, "", 0, 0},
    {"long month word is cut", "1.3 for Zantrel Fennaro Built Marchmarchmarchmarch 5 2007" + Z, 5, 1, 3,
     "Marchmarchmarch", 5, 2007},
    {"numbers saturate", "99999999999.3 for Zantrel Fennaro Built Mar 12 -99999999999" + Z, 5, 2147483647, 3, "Mar",
     12, -2147483647 - 1},
    {"zero byte inside the banner", "1.3 for Zan" + Z + "trel Fennaro Built Mar 12 2007", 2, 1, 3, "", 0, 0},
};
// clang-format on

class BannerScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(BannerScan, FieldsUpToTheEnd) {
    const ScanCase& c = GetParam();
    // Exactly the text's bytes on the heap, so a read past the end is caught.
    std::unique_ptr<char[]> copy(new char[c.text.size() + 1]);
    std::memcpy(copy.get(), c.text.data(), c.text.size());
    BannerFields fields;
    std::memset(&fields, 0, sizeof fields);
    EXPECT_EQ(ScanBannerText(copy.get(), copy.get() + c.text.size(), &fields), c.scanned);
    EXPECT_EQ(fields.major, c.major);
    EXPECT_EQ(fields.minor, c.minor);
    EXPECT_STREQ(fields.month, c.month);
    EXPECT_EQ(fields.day, c.day);
    EXPECT_EQ(fields.year, c.year);
}

INSTANTIATE_TEST_SUITE_P(Texts, BannerScan, ::testing::ValuesIn(kScanCases), CaseName<ScanCase>);

TEST(MonthFromName, ExactAbbreviationsOnly) {
    const char* names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(MonthFromName(names[i]), i + 1) << names[i];
    for (const char* other : {"", "mar", "MAR", "March", "Ma", "Mar ", " Mar", "Sept", "Dez", "13"})
        EXPECT_EQ(MonthFromName(other), 0) << "'" << other << "'";
}

}  // namespace
}  // namespace bsp_test
