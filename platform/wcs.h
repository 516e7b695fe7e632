// The C library's wide-string functions for the platform's 16-bit WCHAR.
#pragma once
#include "platform/wintypes.h"

size_t wcslen(const WCHAR* text);
int wcscmp(const WCHAR* left, const WCHAR* right);
int wcsncmp(const WCHAR* left, const WCHAR* right, size_t count);
WCHAR* wcsncpy(WCHAR* dest, const WCHAR* source, size_t count);
// Decimal conversion: leading white space, an optional sign, then digits up
// to the first other character; no digits give 0; out-of-range values
// saturate at LONG_MIN / LONG_MAX.
long _wtol(const WCHAR* text);
int _wtoi(const WCHAR* text);
