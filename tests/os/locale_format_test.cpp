// Date and time texts of the module's English (United States) locale, and
// FILETIME conversion.
#include <gtest/gtest.h>

#include <string>

#include "platform/winbase.h"

namespace {

SYSTEMTIME date_time(WORD year, WORD month, WORD day, WORD hour = 0, WORD minute = 0, WORD second = 0) {
    SYSTEMTIME t{};
    t.wYear = year;
    t.wMonth = month;
    t.wDay = day;
    t.wHour = hour;
    t.wMinute = minute;
    t.wSecond = second;
    return t;
}

std::u16string date_text(const SYSTEMTIME& t, const char16_t* picture, DWORD flags = 0) {
    char16_t buffer[64] = {};
    int n = GetDateFormatW(LOCALE_SYSTEM_DEFAULT, flags, &t, picture, buffer, 64);
    if (n == 0) return u"<rejected>";
    EXPECT_EQ(static_cast<size_t>(n), std::u16string(buffer).size() + 1);
    return buffer;
}

std::u16string time_text(const SYSTEMTIME& t, const char16_t* picture, DWORD flags) {
    char16_t buffer[64] = {};
    int n = GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, flags, &t, picture, buffer, 64);
    if (n == 0) return u"<rejected>";
    EXPECT_EQ(static_cast<size_t>(n), std::u16string(buffer).size() + 1);
    return buffer;
}

TEST(DateFormat, Pictures) {
    struct Case {
        SYSTEMTIME date;
        const char16_t* picture;
        DWORD flags;
        const char16_t* expected;
    };
    const Case cases[] = {
        {date_time(2007, 3, 12), u"dd MMM yyyy", 0, u"12 Mar 2007"},
        {date_time(2007, 3, 2), u"dd MMM yyyy", 0, u"02 Mar 2007"},
        {date_time(2007, 3, 2), u"d M y yy", 0, u"2 3 7 07"},
        {date_time(2007, 3, 12), u"ddd dddd MMMM", 0, u"Mon Monday March"},
        {date_time(2000, 2, 29), u"dddd, MMMM dd, yyyy", 0, u"Tuesday, February 29, 2000"},
        {date_time(1601, 1, 1), u"ddd yyyy", 0, u"Mon 1601"},
        {date_time(2007, 12, 31), u"'Built' d 'o''clock' MM", 0, u"Built 31 o'clock 12"},
        {date_time(2007, 12, 31), u"''yyyy''", 0, u"'2007'"},
        {date_time(2007, 12, 31), u"'open", 0, u"open"},
        {date_time(2007, 3, 12), nullptr, 0, u"3/12/2007"},
        {date_time(2007, 3, 12), nullptr, DATE_SHORTDATE, u"3/12/2007"},
        {date_time(2007, 3, 12), nullptr, DATE_LONGDATE, u"Monday, March 12, 2007"},
        {date_time(2007, 3, 12), nullptr, LOCALE_NOUSEROVERRIDE, u"3/12/2007"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(date_text(c.date, c.picture, c.flags), std::u16string(c.expected))
            << c.date.wYear << "-" << c.date.wMonth << "-" << c.date.wDay;
}

TEST(DateFormat, ImpossibleDatesAreRejectedWithoutWriting) {
    // clang-format off
    const SYSTEMTIME cases[] = {
        date_time(2007, 0, 12),   // month 0, as a month name that is not in the table gives
        date_time(2007, 13, 12),
        date_time(2007, 3, 0),
        date_time(2007, 2, 29),  // not a leap year
        date_time(1900, 2, 29),
        date_time(2007, 4, 31),
        date_time(0, 0, 0),  // the all-zero time
    };
    // clang-format on
    for (const SYSTEMTIME& t : cases) {
        char16_t buffer[32] = u"untouched";
        SetLastError(0);
        EXPECT_EQ(GetDateFormatW(LOCALE_SYSTEM_DEFAULT, 0, &t, u"dd MMM yyyy", buffer, 32), 0)
            << t.wYear << "-" << t.wMonth << "-" << t.wDay;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(std::u16string(buffer), u"untouched");
    }
}

TEST(DateFormat, BufferSizes) {
    SYSTEMTIME t = date_time(2007, 3, 12);
    EXPECT_EQ(GetDateFormatW(LOCALE_SYSTEM_DEFAULT, 0, &t, u"dd MMM yyyy", nullptr, 0), 12);
    char16_t buffer[16];
    for (char16_t& c : buffer) c = u'#';
    SetLastError(0);
    EXPECT_EQ(GetDateFormatW(LOCALE_SYSTEM_DEFAULT, 0, &t, u"dd MMM yyyy", buffer, 11), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    for (char16_t c : buffer) EXPECT_EQ(c, u'#');
    EXPECT_EQ(GetDateFormatW(LOCALE_SYSTEM_DEFAULT, 0, &t, u"dd MMM yyyy", buffer, 12), 12);
    EXPECT_EQ(std::u16string(buffer), u"12 Mar 2007");
    EXPECT_EQ(buffer[12], u'#');
    EXPECT_EQ(GetDateFormatW(LOCALE_SYSTEM_DEFAULT, 0, &t, u"d", buffer, -1), 0);
    EXPECT_EQ(GetDateFormatW(LOCALE_SYSTEM_DEFAULT, DATE_LONGDATE, &t, u"d", buffer, 16), 0);
    EXPECT_EQ(GetDateFormatW(0x0407, 0, &t, u"d", buffer, 16), 0);  // only English (United States)
}

TEST(TimeFormat, LocaleTimeAndPictures) {
    constexpr DWORD k24 = TIME_FORCE24HOURFORMAT;
    constexpr DWORD kSystem24 = LOCALE_NOUSEROVERRIDE | TIME_FORCE24HOURFORMAT;
    struct Case {
        SYSTEMTIME time;
        const char16_t* picture;
        DWORD flags;
        const char16_t* expected;
    };
    const Case cases[] = {
        {date_time(2007, 3, 12, 0, 0, 0), nullptr, kSystem24, u"0:00:00"},
        {date_time(2007, 3, 12, 14, 5, 9), nullptr, kSystem24, u"14:05:09"},
        {date_time(2007, 3, 12, 10, 20, 30), nullptr, kSystem24, u"10:20:30"},
        {date_time(2007, 3, 12, 0, 0, 0), nullptr, 0, u"12:00:00 AM"},
        {date_time(2007, 3, 12, 12, 0, 1), nullptr, 0, u"12:00:01 PM"},
        {date_time(2007, 3, 12, 14, 5, 9), nullptr, 0, u"2:05:09 PM"},
        {date_time(2007, 3, 12, 14, 5, 9), nullptr, TIME_NOSECONDS, u"2:05 PM"},
        {date_time(2007, 3, 12, 14, 5, 9), nullptr, TIME_NOMINUTESORSECONDS, u"2 PM"},
        {date_time(2007, 3, 12, 14, 5, 9), nullptr, TIME_NOTIMEMARKER, u"2:05:09"},
        {date_time(2007, 3, 12, 14, 5, 9), nullptr, k24 | TIME_NOSECONDS, u"14:05"},
        {date_time(2007, 3, 12, 9, 5, 9), u"hh:mm:ss tt", 0, u"09:05:09 AM"},
        {date_time(2007, 3, 12, 9, 5, 9), u"H|HH|h|m|s|t", 0, u"9|09|9|5|9|A"},
        {date_time(2007, 3, 12, 21, 5, 9), u"HH'h'mm", 0, u"21h05"},
        {date_time(2007, 3, 12, 21, 5, 9), u"hh:mm tt", k24, u"21:05"},
        {date_time(2007, 3, 12, 21, 5, 9), u"tt h:mm", TIME_NOTIMEMARKER, u"9:05"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(time_text(c.time, c.picture, c.flags), std::u16string(c.expected))
            << c.time.wHour << ":" << c.time.wMinute << " flags " << c.flags;
}

TEST(TimeFormat, ImpossibleTimesAndSmallBuffers) {
    const SYSTEMTIME bad[] = {date_time(2007, 3, 12, 24, 0, 0), date_time(2007, 3, 12, 0, 60, 0),
                              date_time(2007, 3, 12, 0, 0, 60)};
    for (const SYSTEMTIME& t : bad) {
        char16_t buffer[16] = u"untouched";
        SetLastError(0);
        EXPECT_EQ(GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, 0, &t, nullptr, buffer, 16), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(std::u16string(buffer), u"untouched");
    }
    // The time of a zero date is still a time: only the date is rejected.
    SYSTEMTIME zero{};
    EXPECT_EQ(time_text(zero, nullptr, LOCALE_NOUSEROVERRIDE | TIME_FORCE24HOURFORMAT), u"0:00:00");

    SYSTEMTIME t = date_time(2007, 3, 12, 14, 5, 9);
    EXPECT_EQ(GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, 0, &t, nullptr, nullptr, 0), 11);
    char16_t buffer[12];
    for (char16_t& c : buffer) c = u'#';
    EXPECT_EQ(GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, 0, &t, nullptr, buffer, 10), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    for (char16_t c : buffer) EXPECT_EQ(c, u'#');
    // A picture with the no-override flag is a caller error.
    EXPECT_EQ(GetTimeFormatW(LOCALE_SYSTEM_DEFAULT, LOCALE_NOUSEROVERRIDE, &t, u"H", buffer, 12), 0);
}

TEST(FileTimeToSystemTime, ExactGregorianDates) {
    struct Case {
        uint64_t ticks;
        SYSTEMTIME expected;  // year, month, weekday, day, hour, minute, second, ms
    };
    const Case cases[] = {
        {0, {1601, 1, 1, 1, 0, 0, 0, 0}},
        {116444736000000000ull, {1970, 1, 4, 1, 0, 0, 0, 0}},
        {128181684300000000ull, {2007, 3, 1, 12, 10, 20, 30, 0}},
        {125911584000000000ull, {2000, 1, 6, 1, 0, 0, 0, 0}},
        {125962560000000000ull, {2000, 2, 2, 29, 0, 0, 0, 0}},
        {125963423999990000ull, {2000, 2, 2, 29, 23, 59, 59, 999}},
        {0x7FFFFFFFFFFFFFFFull, {30828, 9, 4, 14, 2, 48, 5, 477}},
    };
    for (const Case& c : cases) {
        FILETIME ft{static_cast<DWORD>(c.ticks), static_cast<DWORD>(c.ticks >> 32)};
        SYSTEMTIME t{};
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &t)) << c.ticks;
        EXPECT_EQ(t.wYear, c.expected.wYear) << c.ticks;
        EXPECT_EQ(t.wMonth, c.expected.wMonth) << c.ticks;
        EXPECT_EQ(t.wDayOfWeek, c.expected.wDayOfWeek) << c.ticks;
        EXPECT_EQ(t.wDay, c.expected.wDay) << c.ticks;
        EXPECT_EQ(t.wHour, c.expected.wHour) << c.ticks;
        EXPECT_EQ(t.wMinute, c.expected.wMinute) << c.ticks;
        EXPECT_EQ(t.wSecond, c.expected.wSecond) << c.ticks;
        EXPECT_EQ(t.wMilliseconds, c.expected.wMilliseconds) << c.ticks;
    }
    FILETIME too_late{0, 0x80000000u};
    SYSTEMTIME t{};
    EXPECT_FALSE(FileTimeToSystemTime(&too_late, &t));
}

}  // namespace
