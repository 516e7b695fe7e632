// The platform's bounded wide-string functions (strsafe). Formatting is the
// platform's own wide printf: %s is a wide string and %S a single-byte one,
// the l size prefix means 32 bits as on the module, ll and I64 mean 64.
// Output is cut at the destination's size and always terminated; a
// conversion this printf does not know stops the formatting with
// STRSAFE_E_INVALID_PARAMETER rather than misreading the arguments after it.
#include <climits>
#include <cstdarg>
#include <cstdint>

#include "platform/strsafe.h"

namespace {

constexpr size_t kMaxCch = 2147483647;

// Writes into the destination, keeping room for the terminator and noting a cut.
struct Output {
    LPWSTR dest;
    size_t capacity;  // characters, terminator excluded
    size_t length = 0;
    bool cut = false;

    void put(char16_t c) {
        if (length < capacity)
            dest[length++] = c;
        else
            cut = true;
    }
    void repeat(char16_t c, size_t n) {
        for (size_t i = 0; i < n; ++i) put(c);
    }
    void finish() { dest[length] = 0; }
};

struct Spec {
    bool left = false, zero = false, plus = false, space = false, alternate = false;
    int width = 0;
    int precision = -1;
    enum { kDefault, kShort, kChar, kLong, kLongLong, kPointerSize, kWide } size = kDefault;
};

// Pads text (already in digits or characters) out to the width.
template <class Emit>
void padded(Output& out, const Spec& spec, size_t length, char16_t pad, Emit emit) {
    size_t fill = spec.width > 0 && static_cast<size_t>(spec.width) > length ? spec.width - length : 0;
    if (!spec.left) out.repeat(pad, fill);
    emit();
    if (spec.left) out.repeat(u' ', fill);
}

void format_integer(Output& out, const Spec& spec, uint64_t magnitude, bool negative, unsigned base, bool upper,
                    bool is_signed) {
    char16_t digits[32];
    size_t count = 0;
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    // Precision 0 prints no digits for the value 0.
    if (!(magnitude == 0 && spec.precision == 0)) {
        do {
            digits[count++] = static_cast<char16_t>(set[magnitude % base]);
            magnitude /= base;
        } while (magnitude);
    }
    size_t precision_zeros =
        spec.precision > 0 && static_cast<size_t>(spec.precision) > count ? spec.precision - count : 0;
    char16_t prefix[2];
    size_t prefix_length = 0;
    if (is_signed) {
        if (negative)
            prefix[prefix_length++] = u'-';
        else if (spec.plus)
            prefix[prefix_length++] = u'+';
        else if (spec.space)
            prefix[prefix_length++] = u' ';
    } else if (spec.alternate && count > 0 && !(count == 1 && digits[0] == u'0')) {
        if (base == 16) {
            prefix[prefix_length++] = u'0';
            prefix[prefix_length++] = upper ? u'X' : u'x';
        } else if (base == 8 && precision_zeros == 0) {
            prefix[prefix_length++] = u'0';
        }
    }
    size_t body = prefix_length + precision_zeros + count;
    bool zero_pad = spec.zero && !spec.left && spec.precision < 0;
    size_t fill = spec.width > 0 && static_cast<size_t>(spec.width) > body ? spec.width - body : 0;
    if (!spec.left && !zero_pad) out.repeat(u' ', fill);
    for (size_t i = 0; i < prefix_length; ++i) out.put(prefix[i]);
    if (zero_pad) out.repeat(u'0', fill);
    out.repeat(u'0', precision_zeros);
    while (count) out.put(digits[--count]);
    if (spec.left) out.repeat(u' ', fill);
}

template <class Char>
void format_string(Output& out, const Spec& spec, const Char* text) {
    static const char null_text[] = "(null)";
    size_t length = 0;
    size_t limit = spec.precision >= 0 ? static_cast<size_t>(spec.precision) : SIZE_MAX;
    if (!text) {
        for (length = 0; null_text[length] && length < limit; ++length) {}
        padded(out, spec, length, u' ', [&] {
            for (size_t i = 0; i < length; ++i) out.put(static_cast<char16_t>(null_text[i]));
        });
        return;
    }
    while (length < limit && text[length]) ++length;
    padded(out, spec, length, u' ', [&] {
        for (size_t i = 0; i < length; ++i)
            out.put(sizeof(Char) == 1 ? static_cast<char16_t>(static_cast<unsigned char>(text[i]))
                                      : static_cast<char16_t>(text[i]));
    });
}

int64_t signed_argument(va_list& args, const Spec& spec) {
    switch (spec.size) {
        case Spec::kShort: return static_cast<int16_t>(va_arg(args, int));
        case Spec::kChar: return static_cast<int8_t>(va_arg(args, int));
        case Spec::kLongLong: return va_arg(args, long long);
        case Spec::kPointerSize: return va_arg(args, intptr_t);
        default: return va_arg(args, int);  // int and the module's 32-bit long
    }
}

uint64_t unsigned_argument(va_list& args, const Spec& spec) {
    switch (spec.size) {
        case Spec::kShort: return static_cast<uint16_t>(va_arg(args, unsigned));
        case Spec::kChar: return static_cast<uint8_t>(va_arg(args, unsigned));
        case Spec::kLongLong: return va_arg(args, unsigned long long);
        case Spec::kPointerSize: return va_arg(args, uintptr_t);
        default: return va_arg(args, unsigned);
    }
}

// Formats into out; false when the format holds a conversion not offered.
bool format(Output& out, const char16_t* f, va_list& args) {
    while (*f) {
        if (*f != u'%') {
            out.put(*f++);
            continue;
        }
        ++f;
        if (*f == u'%') {
            out.put(u'%');
            ++f;
            continue;
        }
        Spec spec;
        for (;; ++f) {
            if (*f == u'-')
                spec.left = true;
            else if (*f == u'0')
                spec.zero = true;
            else if (*f == u'+')
                spec.plus = true;
            else if (*f == u' ')
                spec.space = true;
            else if (*f == u'#')
                spec.alternate = true;
            else
                break;
        }
        if (*f == u'*') {
            int w = va_arg(args, int);
            if (w < 0) {
                spec.left = true;
                w = w == INT_MIN ? INT_MAX : -w;
            }
            spec.width = w;
            ++f;
        } else {
            while (*f >= u'0' && *f <= u'9') {
                if (spec.width > (INT_MAX - 9) / 10) return false;
                spec.width = spec.width * 10 + (*f++ - u'0');
            }
        }
        if (*f == u'.') {
            ++f;
            spec.precision = 0;
            if (*f == u'*') {
                int p = va_arg(args, int);
                spec.precision = p < 0 ? -1 : p;
                ++f;
            } else {
                while (*f >= u'0' && *f <= u'9') {
                    if (spec.precision > (INT_MAX - 9) / 10) return false;
                    spec.precision = spec.precision * 10 + (*f++ - u'0');
                }
            }
        }
        if (f[0] == u'h' && f[1] == u'h') {
            spec.size = Spec::kChar;
            f += 2;
        } else if (f[0] == u'h') {
            spec.size = Spec::kShort;
            ++f;
        } else if (f[0] == u'l' && f[1] == u'l') {
            spec.size = Spec::kLongLong;
            f += 2;
        } else if (f[0] == u'l') {
            spec.size = Spec::kLong;
            ++f;
        } else if (f[0] == u'w') {
            spec.size = Spec::kWide;
            ++f;
        } else if (f[0] == u'I' && f[1] == u'6' && f[2] == u'4') {
            spec.size = Spec::kLongLong;
            f += 3;
        } else if (f[0] == u'I' && f[1] == u'3' && f[2] == u'2') {
            spec.size = Spec::kLong;
            f += 3;
        } else if (f[0] == u'I') {
            spec.size = Spec::kPointerSize;
            ++f;
        }
        char16_t type = *f;
        if (!type) return false;
        ++f;
        switch (type) {
            case u'd':
            case u'i': {
                int64_t v = signed_argument(args, spec);
                uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
                format_integer(out, spec, magnitude, v < 0, 10, false, true);
                break;
            }
            case u'u': format_integer(out, spec, unsigned_argument(args, spec), false, 10, false, false); break;
            case u'x': format_integer(out, spec, unsigned_argument(args, spec), false, 16, false, false); break;
            case u'X': format_integer(out, spec, unsigned_argument(args, spec), false, 16, true, false); break;
            case u'o': format_integer(out, spec, unsigned_argument(args, spec), false, 8, false, false); break;
            case u'p': {
                Spec pointer = spec;
                pointer.precision = static_cast<int>(2 * sizeof(void*));
                format_integer(out, pointer, reinterpret_cast<uintptr_t>(va_arg(args, void*)), false, 16, true, false);
                break;
            }
            case u'c':
            case u'C': {
                // %c is a WCHAR and %C a single-byte character; h and l/w pick either.
                bool narrow =
                    spec.size == Spec::kShort || (type == u'C' && spec.size != Spec::kLong && spec.size != Spec::kWide);
                int value = va_arg(args, int);
                char16_t c =
                    narrow ? static_cast<char16_t>(static_cast<unsigned char>(value)) : static_cast<char16_t>(value);
                padded(out, spec, 1, u' ', [&] { out.put(c); });
                break;
            }
            case u's':
            case u'S': {
                bool narrow =
                    spec.size == Spec::kShort || (type == u'S' && spec.size != Spec::kLong && spec.size != Spec::kWide);
                if (narrow)
                    format_string(out, spec, va_arg(args, const char*));
                else
                    format_string(out, spec, va_arg(args, const char16_t*));
                break;
            }
            default: return false;
        }
    }
    return true;
}

bool bad_destination(LPWSTR dest, size_t cchDest) { return !dest || cchDest == 0 || cchDest > kMaxCch; }

}  // namespace

HRESULT StringCchVPrintfW(LPWSTR dest, size_t cchDest, LPCWSTR format, va_list args) {
    if (bad_destination(dest, cchDest)) return STRSAFE_E_INVALID_PARAMETER;
    Output out{dest, cchDest - 1};
    if (!format) {
        out.finish();
        return STRSAFE_E_INVALID_PARAMETER;
    }
    va_list copy;
    va_copy(copy, args);
    bool known = ::format(out, format, copy);
    va_end(copy);
    out.finish();
    if (!known) return STRSAFE_E_INVALID_PARAMETER;
    return out.cut ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK;
}

HRESULT StringCchPrintfW(LPWSTR dest, size_t cchDest, LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    HRESULT result = StringCchVPrintfW(dest, cchDest, format, args);
    va_end(args);
    return result;
}

HRESULT StringCchCopyW(LPWSTR dest, size_t cchDest, LPCWSTR source) {
    if (bad_destination(dest, cchDest)) return STRSAFE_E_INVALID_PARAMETER;
    Output out{dest, cchDest - 1};
    if (!source) {
        out.finish();
        return STRSAFE_E_INVALID_PARAMETER;
    }
    while (*source && !out.cut) out.put(*source++);
    if (*source) out.cut = true;
    out.finish();
    return out.cut ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK;
}

HRESULT StringCchCatW(LPWSTR dest, size_t cchDest, LPCWSTR source) {
    if (bad_destination(dest, cchDest) || !source) return STRSAFE_E_INVALID_PARAMETER;
    size_t length = 0;
    while (length < cchDest && dest[length]) ++length;
    // An unterminated destination is left as it is.
    if (length == cchDest) return STRSAFE_E_INVALID_PARAMETER;
    Output out{dest, cchDest - 1, length};
    while (*source && !out.cut) out.put(*source++);
    if (*source) out.cut = true;
    out.finish();
    return out.cut ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK;
}

HRESULT StringCchLengthW(LPCWSTR text, size_t cchMax, size_t* length) {
    if (length) *length = 0;
    if (!text || cchMax == 0 || cchMax > kMaxCch) return STRSAFE_E_INVALID_PARAMETER;
    size_t n = 0;
    while (n < cchMax && text[n]) ++n;
    if (n == cchMax) return STRSAFE_E_INVALID_PARAMETER;
    if (length) *length = n;
    return S_OK;
}
