// Locale information from LC_ALL, LC_MESSAGES and LANG, in that order.
#pragma once

#include "platform/wintypes.h"

constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCTYPE LOCALE_SENGLANGUAGE = 0x1001; // "German"
constexpr LCTYPE LOCALE_SENGCOUNTRY = 0x1002;  // "Germany"

// Copies the text with its NUL and returns its length with the NUL; with
// dataSize 0 returns the size needed; 0 on failure. "C" and "POSIX" count as
// English / United States.
int GetLocaleInfoA(LCID locale, LCTYPE type, char* data, int dataSize);
