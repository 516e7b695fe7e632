// The C library's wide-string functions for the platform's 16-bit WCHAR.
// _wtol works in the platform's 32-bit long: it saturates at the module's
// LONG_MIN and LONG_MAX, whatever the host's long is.
#include <cstdint>

#include "platform/wcs.h"

size_t wcslen(const WCHAR* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

int wcscmp(const WCHAR* left, const WCHAR* right) {
    while (*left && *left == *right) {
        ++left;
        ++right;
    }
    return *left < *right ? -1 : *left > *right ? 1 : 0;
}

int wcsncmp(const WCHAR* left, const WCHAR* right, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (left[i] != right[i]) return left[i] < right[i] ? -1 : 1;
        if (!left[i]) return 0;
    }
    return 0;
}

// As in C: pads with zeros, and leaves the result unterminated when the
// source is count characters or longer.
WCHAR* wcsncpy(WCHAR* dest, const WCHAR* source, size_t count) {
    size_t i = 0;
    for (; i < count && source[i]; ++i) dest[i] = source[i];
    for (; i < count; ++i) dest[i] = 0;
    return dest;
}

long _wtol(const WCHAR* text) {
    constexpr int64_t kMax = INT32_MAX, kMin = INT32_MIN;
    while (*text == u' ' || (*text >= u'\t' && *text <= u'\r')) ++text;
    bool negative = false;
    if (*text == u'+' || *text == u'-') negative = *text++ == u'-';
    int64_t value = 0;
    for (; *text >= u'0' && *text <= u'9'; ++text) {
        // Once past the range more digits change nothing.
        if (value <= kMax + 1) value = value * 10 + (*text - u'0');
    }
    if (negative) return static_cast<long>(value > -kMin ? kMin : -value);
    return static_cast<long>(value > kMax ? kMax : value);
}

int _wtoi(const WCHAR* text) { return static_cast<int>(_wtol(text)); }
