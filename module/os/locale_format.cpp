// GetDateFormatW and GetTimeFormatW for the module's only locale, English
// (United States): short date "M/d/yyyy", long date "dddd, MMMM dd, yyyy",
// time "h:mm:ss tt". A 24-hour time carries no AM/PM marker. A date or time
// that is not a real one is rejected; a result that does not fit is not
// written at all.
#include <ctime>
#include <string>
#include <vector>

#include "module/os/calendar.h"
#include "module/os/os_errors.h"
#include "platform/winbase.h"

namespace {

using sim::os::kErrorInvalidFlags;

const char16_t* const kDayNames[7] = {u"Sunday",   u"Monday", u"Tuesday", u"Wednesday",
                                      u"Thursday", u"Friday", u"Saturday"};
const char16_t* const kDayAbbreviations[7] = {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};
const char16_t* const kMonthNames[12] = {u"January", u"February", u"March",     u"April",   u"May",      u"June",
                                         u"July",    u"August",   u"September", u"October", u"November", u"December"};
const char16_t* const kMonthAbbreviations[12] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                                 u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
const char16_t* const kShortDate = u"M/d/yyyy";
const char16_t* const kLongDate = u"dddd, MMMM dd, yyyy";
const char16_t* const kTime = u"h:mm:ss tt";

bool known_locale(LCID locale) {
    return locale == LOCALE_SYSTEM_DEFAULT || locale == LOCALE_USER_DEFAULT || locale == 0x0409 || locale == 0;
}

void append_number(std::u16string* out, unsigned value, unsigned min_digits) {
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
        value /= 10;
    } while (value);
    while (digits.size() < min_digits) digits.insert(digits.begin(), u'0');
    *out += digits;
}

size_t run_length(const char16_t* picture, size_t at) {
    size_t n = 1;
    while (picture[at + n] == picture[at]) ++n;
    return n;
}

// Quoted text: up to the closing quote; two quotes stand for one.
size_t append_quoted(const char16_t* picture, size_t at, std::u16string* out) {
    size_t i = at + 1;
    if (picture[i] == u'\'') {
        *out += u'\'';
        return i + 1;
    }
    while (picture[i]) {
        if (picture[i] == u'\'') {
            if (picture[i + 1] == u'\'') {
                *out += u'\'';
                i += 2;
                continue;
            }
            return i + 1;
        }
        *out += picture[i++];
    }
    return i;
}

// Writes text and its terminator when it fits; the result counts both.
int deliver(const std::u16string& text, LPWSTR out, int size) {
    int needed = static_cast<int>(text.size()) + 1;
    if (size == 0) return needed;
    if (size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    text.copy(out, text.size());
    out[text.size()] = 0;
    return needed;
}

SYSTEMTIME current_time() {
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    SYSTEMTIME t{};
    t.wYear = static_cast<WORD>(parts.tm_year + 1900);
    t.wMonth = static_cast<WORD>(parts.tm_mon + 1);
    t.wDayOfWeek = static_cast<WORD>(parts.tm_wday);
    t.wDay = static_cast<WORD>(parts.tm_mday);
    t.wHour = static_cast<WORD>(parts.tm_hour);
    t.wMinute = static_cast<WORD>(parts.tm_min);
    t.wSecond = static_cast<WORD>(parts.tm_sec);
    return t;
}

bool valid_date(const SYSTEMTIME& t) {
    return t.wYear >= 1601 && t.wYear <= 30827 && t.wDay >= 1 && t.wDay <= sim::os::days_in_month(t.wYear, t.wMonth);
}

bool valid_time(const SYSTEMTIME& t) {
    return t.wHour <= 23 && t.wMinute <= 59 && t.wSecond <= 59 && t.wMilliseconds <= 999;
}

std::u16string format_date(const SYSTEMTIME& date, const char16_t* picture) {
    std::u16string out;
    unsigned weekday = sim::os::day_of_week(sim::os::days_from_civil(date.wYear, date.wMonth, date.wDay));
    for (size_t i = 0; picture[i];) {
        char16_t c = picture[i];
        if (c == u'\'') {
            i = append_quoted(picture, i, &out);
            continue;
        }
        if (c != u'd' && c != u'M' && c != u'y' && c != u'g') {
            out += c;
            ++i;
            continue;
        }
        size_t n = run_length(picture, i);
        i += n;
        switch (c) {
            case u'd':
                if (n <= 2)
                    append_number(&out, date.wDay, static_cast<unsigned>(n));
                else
                    out += n == 3 ? kDayAbbreviations[weekday] : kDayNames[weekday];
                break;
            case u'M':
                if (n <= 2)
                    append_number(&out, date.wMonth, static_cast<unsigned>(n));
                else
                    out += n == 3 ? kMonthAbbreviations[date.wMonth - 1] : kMonthNames[date.wMonth - 1];
                break;
            case u'y':
                if (n == 1)
                    append_number(&out, date.wYear % 100, 1);
                else if (n == 2)
                    append_number(&out, date.wYear % 100, 2);
                else
                    append_number(&out, date.wYear, 4);
                break;
            default:  // g: the era
                out += u"A.D.";
                break;
        }
    }
    return out;
}

enum class TimeField { Literal, Hour12, Hour24, Minute, Second, Marker };

struct TimeToken {
    TimeField field;
    size_t width;
    std::u16string text;  // literal text
};

std::vector<TimeToken> parse_time_picture(const char16_t* picture) {
    std::vector<TimeToken> tokens;
    auto literal = [&]() -> std::u16string& {
        if (tokens.empty() || tokens.back().field != TimeField::Literal)
            tokens.push_back(TimeToken{TimeField::Literal, 0, u""});
        return tokens.back().text;
    };
    for (size_t i = 0; picture[i];) {
        char16_t c = picture[i];
        if (c == u'\'') {
            i = append_quoted(picture, i, &literal());
            continue;
        }
        TimeField field = c == u'h'   ? TimeField::Hour12
                          : c == u'H' ? TimeField::Hour24
                          : c == u'm' ? TimeField::Minute
                          : c == u's' ? TimeField::Second
                          : c == u't' ? TimeField::Marker
                                      : TimeField::Literal;
        if (field == TimeField::Literal) {
            literal() += c;
            ++i;
            continue;
        }
        size_t n = run_length(picture, i);
        tokens.push_back(TimeToken{field, n, u""});
        i += n;
    }
    return tokens;
}

// A dropped field takes its separator with it: the text before it, or the
// text after it when it comes first.
void drop_fields(std::vector<TimeToken>* tokens, bool (*dropped)(TimeField, DWORD), DWORD flags) {
    for (size_t i = 0; i < tokens->size();) {
        if ((*tokens)[i].field == TimeField::Literal || !dropped((*tokens)[i].field, flags)) {
            ++i;
            continue;
        }
        tokens->erase(tokens->begin() + static_cast<std::ptrdiff_t>(i));
        if (i > 0 && (*tokens)[i - 1].field == TimeField::Literal) {
            tokens->erase(tokens->begin() + static_cast<std::ptrdiff_t>(i - 1));
            --i;
        } else if (i == 0 && !tokens->empty() && (*tokens)[0].field == TimeField::Literal) {
            tokens->erase(tokens->begin());
        }
    }
}

bool field_dropped(TimeField field, DWORD flags) {
    if (field == TimeField::Marker) return (flags & (TIME_NOTIMEMARKER | TIME_FORCE24HOURFORMAT)) != 0;
    if (field == TimeField::Second) return (flags & (TIME_NOSECONDS | TIME_NOMINUTESORSECONDS)) != 0;
    if (field == TimeField::Minute) return (flags & TIME_NOMINUTESORSECONDS) != 0;
    return false;
}

std::u16string format_time(const SYSTEMTIME& time, const char16_t* picture, DWORD flags) {
    std::vector<TimeToken> tokens = parse_time_picture(picture);
    drop_fields(&tokens, field_dropped, flags);
    bool force24 = flags & TIME_FORCE24HOURFORMAT;
    std::u16string out;
    for (const TimeToken& token : tokens) {
        unsigned width = token.width >= 2 ? 2 : 1;
        switch (token.field) {
            case TimeField::Literal: out += token.text; break;
            case TimeField::Hour12:
                if (force24)
                    append_number(&out, time.wHour, width);
                else
                    append_number(&out, time.wHour % 12 == 0 ? 12 : time.wHour % 12, width);
                break;
            case TimeField::Hour24: append_number(&out, time.wHour, width); break;
            case TimeField::Minute: append_number(&out, time.wMinute, width); break;
            case TimeField::Second: append_number(&out, time.wSecond, width); break;
            case TimeField::Marker:
                out += time.wHour < 12 ? (width == 1 ? u"A" : u"AM") : (width == 1 ? u"P" : u"PM");
                break;
        }
    }
    return out;
}

bool check_output(LPWSTR text, int size) {
    if (size < 0 || (size > 0 && !text)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

}  // namespace

int GetDateFormatW(LCID locale, DWORD flags, const SYSTEMTIME* date, LPCWSTR format, LPWSTR dateText, int textSize) {
    if (!check_output(dateText, textSize)) return 0;
    if (!known_locale(locale)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    DWORD allowed = LOCALE_NOUSEROVERRIDE | DATE_SHORTDATE | DATE_LONGDATE;
    // Flags that pick the locale's own picture go with no picture only.
    if ((flags & ~allowed) || (format && flags) || ((flags & DATE_SHORTDATE) && (flags & DATE_LONGDATE))) {
        SetLastError(kErrorInvalidFlags);
        return 0;
    }
    SYSTEMTIME when = date ? *date : current_time();
    if (!valid_date(when)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char16_t* picture = format ? format : (flags & DATE_LONGDATE) ? kLongDate : kShortDate;
    return deliver(format_date(when, picture), dateText, textSize);
}

int GetTimeFormatW(LCID locale, DWORD flags, const SYSTEMTIME* time, LPCWSTR format, LPWSTR timeText, int textSize) {
    if (!check_output(timeText, textSize)) return 0;
    if (!known_locale(locale)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    DWORD allowed =
        LOCALE_NOUSEROVERRIDE | TIME_NOMINUTESORSECONDS | TIME_NOSECONDS | TIME_NOTIMEMARKER | TIME_FORCE24HOURFORMAT;
    if ((flags & ~allowed) || (format && (flags & LOCALE_NOUSEROVERRIDE))) {
        SetLastError(kErrorInvalidFlags);
        return 0;
    }
    SYSTEMTIME when = time ? *time : current_time();
    if (!valid_time(when)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return deliver(format_time(when, format ? format : kTime, flags), timeText, textSize);
}
