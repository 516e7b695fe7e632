// Bounded wide-string formatting and copying. Every function writes at most
// cchDest characters, terminator included, and always terminates a non-empty
// destination; a cut result returns STRSAFE_E_INSUFFICIENT_BUFFER.
//
// Formats follow the platform's wide printf conventions: %s takes a wide
// (WCHAR) string, %S a single-byte string, %d/%i int, %u, %x/%X unsigned int,
// %c a WCHAR (passed as int), %%; flags '-', '0', '+', ' ', '#', a width and
// a precision (digits or '*'), and the size prefixes h, l and I64/ll.
#pragma once
#include <stdarg.h>
#include "platform/wintypes.h"

#define STRSAFE_E_INSUFFICIENT_BUFFER ((HRESULT)0x8007007AL)
#define STRSAFE_E_INVALID_PARAMETER ((HRESULT)0x80070057L)

HRESULT StringCchPrintfW(LPWSTR dest, size_t cchDest, LPCWSTR format, ...);
HRESULT StringCchVPrintfW(LPWSTR dest, size_t cchDest, LPCWSTR format, va_list args);
HRESULT StringCchCopyW(LPWSTR dest, size_t cchDest, LPCWSTR source);
HRESULT StringCchCatW(LPWSTR dest, size_t cchDest, LPCWSTR source);
HRESULT StringCchLengthW(LPCWSTR text, size_t cchMax, size_t* length);
