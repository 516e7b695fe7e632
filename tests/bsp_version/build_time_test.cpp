// The build-time text: date, blank, 24-hour time and " (GMT)", with the parts
// that the platform rejects left out.
#include <gtest/gtest.h>

#include <memory>

#include "app/bsp_version.h"
#include "module/observer.h"
#include "tests/bsp_version/bsp_fixture.h"

namespace bsp_test {
namespace {

struct TimeCase {
    const char* name;
    SYSTEMTIME time;  // year, month, day of week, day, hour, minute, second, ms
    const char* text;
};

const TimeCase kTimeCases[] = {
    {"afternoon", {2007, 3, 0, 12, 14, 5, 9, 0}, "12 Mar 2007 14:05:09 (GMT)"},
    {"midnight", {2007, 3, 0, 12, 0, 0, 0, 0}, "12 Mar 2007 0:00:00 (GMT)"},
    {"single-digit day", {2010, 10, 0, 1, 23, 59, 59, 999}, "01 Oct 2010 23:59:59 (GMT)"},
    {"month 0: time only", {2007, 0, 0, 12, 0, 0, 0, 0}, "0:00:00 (GMT)"},
    {"all zero", {0, 0, 0, 0, 0, 0, 0, 0}, "0:00:00 (GMT)"},
    {"day 31 in a 30-day month", {2007, 4, 0, 31, 8, 0, 0, 0}, "8:00:00 (GMT)"},
    {"hour 24: date only", {2007, 3, 0, 12, 24, 0, 0, 0}, "12 Mar 2007  (GMT)"},
    {"neither", {2007, 13, 0, 12, 25, 0, 0, 0}, " (GMT)"},
};

class BuildTime : public ::testing::TestWithParam<TimeCase> {};

TEST_P(BuildTime, Text) {
    const TimeCase& c = GetParam();
    BspFixture f;
    // Exactly the date text's size, so a write past it is caught.
    std::unique_ptr<WCHAR[]> text(new WCHAR[BSP_DATE_TEXT_CHARS]);
    FormatBuildTime(&c.time, text.get());
    EXPECT_EQ(sim::utf8(text.get()), c.text);
}

INSTANTIATE_TEST_SUITE_P(Times, BuildTime, ::testing::ValuesIn(kTimeCases), CaseName<TimeCase>);

}  // namespace
}  // namespace bsp_test
