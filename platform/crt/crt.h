// The C runtime's wide-text helpers, over UTF-16 text, writing UTF-8 to standard output.
#pragma once

#include "platform/win32.h"

// Formatted print of UTF-16 text to standard output as UTF-8. Understands %s (UTF-16 string),
// %S (8-bit string), %c, %d %i %u %x %X with optional l/ll, flags "-0", width and precision, and %%.
// Returns the number of UTF-16 code units produced, or -1 for a null format.
int wprintf(const WCHAR* format, ...);

// Case-insensitive comparison of two zero-terminated UTF-16 strings (ASCII and Latin-1 letters fold).
// Returns <0, 0 or >0; a null argument sorts before any string.
int _wcsicmp(const WCHAR* left, const WCHAR* right);
