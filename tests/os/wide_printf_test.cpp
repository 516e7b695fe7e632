// The platform's bounded wide printf and string copies.
#include <gtest/gtest.h>

#include <string>

#include "platform/strsafe.h"

namespace {

std::u16string printed(HRESULT* result, size_t size, const char16_t* format, ...) {
    char16_t buffer[128];
    for (char16_t& c : buffer) c = u'#';
    va_list args;
    va_start(args, format);
    *result = StringCchVPrintfW(buffer, size, format, args);
    va_end(args);
    return buffer;
}

struct FormatCase {
    const char16_t* expected;
    std::u16string actual;
};

TEST(WidePrintf, ConversionsMatchThePlatformPrintf) {
    HRESULT r;
    const char16_t* wide = u"wide";
    const FormatCase cases[] = {
        {u"plain text", printed(&r, 64, u"plain text")},
        {u"100%", printed(&r, 64, u"%d%%", 100)},
        {u"-42|42|+42| 42", printed(&r, 64, u"%i|%d|%+d|% d", -42, 42, 42, 42)},
        {u"4294967295", printed(&r, 64, u"%u", 0xFFFFFFFFu)},
        {u"-2147483648", printed(&r, 64, u"%d", INT32_MIN)},
        {u"deadbeef DEADBEEF", printed(&r, 64, u"%x %X", 0xDEADBEEFu, 0xDEADBEEFu)},
        {u"0000001f", printed(&r, 64, u"%.8x", 0x1Fu)},
        {u"0x1f 0X1F 0", printed(&r, 64, u"%#x %#X %#x", 0x1Fu, 0x1Fu, 0u)},
        {u"   42|42   |00042", printed(&r, 64, u"%5d|%-5d|%05d", 42, 42, 42)},
        {u"-0042|  -042", printed(&r, 64, u"%05d|%6.3d", -42, -42)},
        {u"   ab|ab   ", printed(&r, 64, u"%*s|%-*s", 5, u"ab", 5, u"ab")},
        {u"ab   |", printed(&r, 64, u"%*s|", -5, u"ab")},
        {u"abc|ab", printed(&r, 64, u"%.3s|%.*s", u"abcdef", 2, u"abcdef")},
        {u"wide narrow", printed(&r, 64, u"%s %S", wide, "narrow")},
        {u"narrow wide", printed(&r, 64, u"%hs %ls", "narrow", wide)},
        {u"(null)", printed(&r, 64, u"%s", static_cast<const char16_t*>(nullptr))},
        {u"x\u00e9", printed(&r, 64, u"%c%c", u'x', 0xE9)},
        {u"-1 65535 255", printed(&r, 64, u"%hd %hu %hhu", 0xFFFF, 0xFFFFu, 0x1FFu)},
        {u"-1", printed(&r, 64, u"%ld", -1)},
        {u"1234567890123 ffffffffffffffff", printed(&r, 64, u"%I64d %llx", 1234567890123LL, ~0ULL)},
        {u"", printed(&r, 64, u"%.0d", 0)},
        {u"17", printed(&r, 64, u"%o", 15u)},
        {u"BETA, Build 3", printed(&r, 64, u"BETA, Build %d", 3)},
    };
    for (const FormatCase& c : cases) EXPECT_EQ(c.actual, std::u16string(c.expected));
}

TEST(WidePrintf, CutTextIsTerminatedAndReported) {
    struct Case {
        size_t size;
        const char16_t* expected;
        HRESULT result;
    };
    const Case cases[] = {
        {1, u"", STRSAFE_E_INSUFFICIENT_BUFFER},
        {4, u"Reg", STRSAFE_E_INSUFFICIENT_BUFFER},
        {9, u"Registry", S_OK},
        {8, u"Registr", STRSAFE_E_INSUFFICIENT_BUFFER},
    };
    for (const Case& c : cases) {
        char16_t buffer[16];
        for (char16_t& ch : buffer) ch = u'#';
        HRESULT r = StringCchPrintfW(buffer, c.size, u"%s", u"Registry");
        EXPECT_EQ(r, c.result) << c.size;
        EXPECT_EQ(FAILED(r), c.result != S_OK) << c.size;
        EXPECT_EQ(std::u16string(buffer), c.expected) << c.size;
        // Nothing past the given size is touched.
        for (size_t i = c.size; i < 16; ++i) EXPECT_EQ(buffer[i], u'#') << c.size;
    }
}

TEST(WidePrintf, WidthsThatWouldOverflowTheBufferAreCut) {
    char16_t buffer[8];
    buffer[7] = u'#';
    EXPECT_EQ(StringCchPrintfW(buffer, 7, u"%100d", 5), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(buffer), u"      ");
    EXPECT_EQ(buffer[7], u'#');
}

TEST(WidePrintf, BadArgumentsAreRefused) {
    char16_t buffer[8] = u"keep";
    EXPECT_EQ(StringCchPrintfW(buffer, 0, u"x"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(std::u16string(buffer), u"keep");
    EXPECT_EQ(StringCchPrintfW(nullptr, 8, u"x"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(StringCchPrintfW(buffer, 8, nullptr), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(std::u16string(buffer), u"");
    // An unknown conversion stops the output where it stands.
    EXPECT_EQ(StringCchPrintfW(buffer, 8, u"ab%qd", 1), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(std::u16string(buffer), u"ab");
    EXPECT_EQ(StringCchPrintfW(buffer, 8, u"ab%"), STRSAFE_E_INVALID_PARAMETER);
}

TEST(StringCch, CopyCatAndLength) {
    char16_t buffer[6];
    EXPECT_EQ(StringCchCopyW(buffer, 6, u"abc"), S_OK);
    EXPECT_EQ(std::u16string(buffer), u"abc");
    EXPECT_EQ(StringCchCatW(buffer, 6, u"de"), S_OK);
    EXPECT_EQ(std::u16string(buffer), u"abcde");
    EXPECT_EQ(StringCchCatW(buffer, 6, u"f"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(buffer), u"abcde");
    EXPECT_EQ(StringCchCopyW(buffer, 6, u"abcdefgh"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(buffer), u"abcde");
    EXPECT_EQ(StringCchCopyW(buffer, 3, u"xyz"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(buffer), u"xy");

    char16_t unterminated[3] = {u'a', u'b', u'c'};
    EXPECT_EQ(StringCchCatW(unterminated, 3, u"d"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(unterminated[2], u'c');

    size_t length = 99;
    EXPECT_EQ(StringCchLengthW(u"hello", 6, &length), S_OK);
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(StringCchLengthW(u"hello", 5, &length), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(StringCchLengthW(nullptr, 5, &length), STRSAFE_E_INVALID_PARAMETER);
}

}  // namespace
