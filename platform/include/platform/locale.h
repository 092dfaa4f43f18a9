// Locale information from LC_ALL, LC_MESSAGES and LANG, in that order.
#pragma once

#include "platform/wintypes.h"

constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCTYPE LOCALE_SENGLANGUAGE = 0x1001; // "German"
constexpr LCTYPE LOCALE_SENGCOUNTRY = 0x1002;  // "Germany"
constexpr LCTYPE LOCALE_SNATIVELANGNAME = 0x04; // "Deutsch" (UTF-8)
constexpr LCTYPE LOCALE_SNATIVECTRYNAME = 0x08; // "Deutschland" (UTF-8)
constexpr LCTYPE LOCALE_SDECIMAL = 0x0E;        // "," (from LC_ALL, LC_NUMERIC, LANG)
constexpr LCTYPE LOCALE_STHOUSAND = 0x0F;       // "."
constexpr LCTYPE LOCALE_SISO639LANGNAME = 0x59; // "de"
constexpr LCTYPE LOCALE_SISO3166CTRYNAME = 0x5A; // "DE"
constexpr LCTYPE LOCALE_NOUSEROVERRIDE = 0x80000000u;

// Copies the text with its NUL and returns its length with the NUL; with
// dataSize 0 returns the size needed; 0 on failure (ERROR_INSUFFICIENT_BUFFER
// when data is too small, ERROR_INVALID_PARAMETER for an unknown type).
// "C", "POSIX" and an empty environment count as English / United States; a
// language without a country takes its usual one (de: Germany); an unknown
// language counts as English.
int GetLocaleInfoA(LCID locale, LCTYPE type, char* data, int dataSize);
