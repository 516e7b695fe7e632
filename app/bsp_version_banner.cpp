// Reading the older bootloader's banner text: "1.3 for Zantrel Fennaro Built
// Mar 12 2007" after the banner's prefix. The text lies in a copy of flash
// with no terminator of its own, so every step is bounded by the copy's end.
#include <string.h>

#include "app/bsp_version.h"

// Month abbreviations in calendar order.
static const char* const kMonthNames[12] = {
    "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec",
};

static const char kBannerLiteral[] = " for Zantrel Fennaro Built ";

int MonthFromName(const char* word) {
    for (int month = 0; month < 12; month++) {
        if (strcmp(word, kMonthNames[month]) == 0) return month + 1;
    }
    return 0;
}

typedef struct TextCursor {
    const char* at;
    const char* end;
} TextCursor;

// The text ends at the copy's end or at a zero byte, whichever comes first.
static BOOL AtTextEnd(const TextCursor* cursor) { return cursor->at >= cursor->end || *cursor->at == '\0'; }

static BOOL IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

static void SkipBlanks(TextCursor* cursor) {
    while (!AtTextEnd(cursor) && IsBlank(*cursor->at)) cursor->at++;
}

// A field that runs into the copy's end may go on in flash beyond it: cut off.
static BOOL CutOff(const TextCursor* cursor) { return cursor->at >= cursor->end; }

static BOOL ScanNumber(TextCursor* cursor, int* value) {
    SkipBlanks(cursor);
    BOOL negative = FALSE;
    if (!AtTextEnd(cursor) && (*cursor->at == '-' || *cursor->at == '+')) {
        negative = *cursor->at == '-';
        cursor->at++;
    }
    long long magnitude = 0;
    int digits = 0;
    while (!AtTextEnd(cursor) && *cursor->at >= '0' && *cursor->at <= '9') {
        // Saturate: a banner's numbers are small, a damaged one must not overflow.
        if (magnitude <= 0x7FFFFFFFLL) magnitude = magnitude * 10 + (*cursor->at - '0');
        cursor->at++;
        digits++;
    }
    if (digits == 0 || CutOff(cursor)) return FALSE;
    if (magnitude > 0x7FFFFFFFLL) magnitude = negative ? 0x80000000LL : 0x7FFFFFFFLL;
    *value = (int)(negative ? -magnitude : magnitude);
    return TRUE;
}

static BOOL ScanWord(TextCursor* cursor, char* word, size_t wordChars) {
    SkipBlanks(cursor);
    const char* begin = cursor->at;
    while (!AtTextEnd(cursor) && !IsBlank(*cursor->at)) cursor->at++;
    size_t length = (size_t)(cursor->at - begin);
    if (length == 0 || CutOff(cursor)) return FALSE;
    // An over-long word is kept cut; at its length it names no month.
    if (length > wordChars - 1) length = wordChars - 1;
    memcpy(word, begin, length);
    word[length] = '\0';
    return TRUE;
}

// Literal text of the format: a blank matches any run of blanks, even none;
// every other character must match exactly.
static BOOL MatchLiteral(TextCursor* cursor, const char* literal) {
    for (; *literal; literal++) {
        if (IsBlank(*literal)) {
            SkipBlanks(cursor);
            continue;
        }
        if (AtTextEnd(cursor) || *cursor->at != *literal) return FALSE;
        cursor->at++;
    }
    return TRUE;
}

int ScanBannerText(const char* text, const char* end, BannerFields* fields) {
    TextCursor cursor = {text, end};
    int major, minor, day, year;
    char month[BANNER_WORD_CHARS];

    if (!ScanNumber(&cursor, &major)) return 0;
    fields->major = major;
    if (!MatchLiteral(&cursor, ".") || !ScanNumber(&cursor, &minor)) return 1;
    fields->minor = minor;
    if (!MatchLiteral(&cursor, kBannerLiteral) || !ScanWord(&cursor, month, sizeof month)) return 2;
    memcpy(fields->month, month, sizeof month);
    if (!MatchLiteral(&cursor, " ") || !ScanNumber(&cursor, &day)) return 3;
    fields->day = day;
    if (!MatchLiteral(&cursor, " ") || !ScanNumber(&cursor, &year)) return 4;
    fields->year = year;
    return 5;
}
