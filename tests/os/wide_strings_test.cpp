// The wide C-library functions for 16-bit WCHAR.
#include <gtest/gtest.h>

#include "platform/wcs.h"

namespace {

TEST(WideStrings, WtolReadsLikeTheCLibraryInThe32BitLong) {
    struct Case {
        const char16_t* text;
        long value;
    };
    const Case cases[] = {
        {u"", 0},
        {u"5000", 5000},
        {u" 5000", 5000},
        {u"\t\r\n 12x", 12},
        {u"-1", -1},
        {u"+7", 7},
        {u"u", 0},
        {u"- 5", 0},
        {u"--5", 0},
        {u"2147483647", 2147483647},
        {u"2147483648", 2147483647},
        {u"99999999999999999999999", 2147483647},
        {u"-2147483648", -2147483647 - 1},
        {u"-2147483649", -2147483647 - 1},
        {u"007", 7},
        {u"12\u0663", 12},  // a non-ASCII digit ends the number
    };
    for (const Case& c : cases) {
        EXPECT_EQ(_wtol(c.text), c.value) << std::u16string(c.text).size();
        EXPECT_EQ(_wtoi(c.text), static_cast<int>(c.value));
    }
}

TEST(WideStrings, CompareCopyAndLength) {
    EXPECT_EQ(wcslen(u""), 0u);
    EXPECT_EQ(wcslen(u"/rc2000"), 7u);
    EXPECT_EQ(wcscmp(u"abc", u"abc"), 0);
    EXPECT_LT(wcscmp(u"ab", u"abc"), 0);
    EXPECT_GT(wcscmp(u"\uFFFF", u"a"), 0);  // unsigned 16-bit order
    EXPECT_EQ(wcsncmp(u"/cu", u"/cx", 2), 0);
    EXPECT_NE(wcsncmp(u"/cu", u"/cx", 3), 0);
    EXPECT_EQ(wcsncmp(u"a", u"a\0b", 3), 0);

    WCHAR buffer[6] = {u'#', u'#', u'#', u'#', u'#', u'#'};
    wcsncpy(buffer, u"ab", 5);
    EXPECT_EQ(buffer[0], u'a');
    EXPECT_EQ(buffer[2], 0);
    EXPECT_EQ(buffer[4], 0);
    EXPECT_EQ(buffer[5], u'#');
    wcsncpy(buffer, u"abcdefgh", 5);
    EXPECT_EQ(buffer[4], u'e');
    EXPECT_EQ(buffer[5], u'#');  // not terminated, as in C
}

}  // namespace
