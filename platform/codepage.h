// Code-page services of the Windows kernel that the program uses: the ANSI
// code page of the user's locale and the conversions between UTF-16 and a
// code page, with Windows' calling conventions (length -1 means "up to and
// including the terminator", a null or empty output asks for the size, 0
// means failure). The conversions run on ICU's converter for the Windows
// code page, with "?" as the default character and ICU's fallback mappings
// in the part of the Windows best-fit tables.
#pragma once

#include <string_view>

#include "platform/types.h"

inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_UTF8 = 65001;

inline constexpr DWORD WC_DISCARDNS = 0x0010;
inline constexpr DWORD WC_SEPCHARS = 0x0020;
inline constexpr DWORD WC_DEFAULTCHAR = 0x0040;
inline constexpr DWORD WC_ERR_INVALID_CHARS = 0x0080;
inline constexpr DWORD WC_COMPOSITECHECK = 0x0200;
inline constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x0400;

inline constexpr DWORD MB_PRECOMPOSED = 0x0001;
inline constexpr DWORD MB_COMPOSITE = 0x0002;
inline constexpr DWORD MB_USEGLYPHCHARS = 0x0004;
inline constexpr DWORD MB_ERR_INVALID_CHARS = 0x0008;

// The Windows code page of a POSIX locale name's language (and, for
// Chinese, territory): "de_DE.UTF-8" -> 1252, "ru_RU" -> 1251, "zh_TW" ->
// 950; "C", "POSIX" and every language not listed -> 1252.
UINT CodePageForLocale(std::string_view localeName);

// The ANSI code page: that of the first of LC_ALL, LC_CTYPE and LANG that
// is set and not empty (1252 when none is).
UINT GetACP();

// The code page of a codeset name as the C library gives it ("UTF-8" ->
// 65001, "ISO-8859-2" -> 28592, "KOI8-R" -> 20866); 0 for one it does not
// know ("ANSI_X3.4-1968", the C locale's).
UINT CodePageOfCodeset(std::string_view codeset);

// The code page of the locale's own character encoding, which terminals
// and text tools use (the locale is the first of LC_ALL, LC_CTYPE and LANG
// that is set): 65001 under a UTF-8 locale; the ANSI code page when the
// locale is not installed or names no known codeset (C, POSIX).
UINT GetLocaleCodePage();

// TRUE for a character with a non-zero canonical combining class: a mark
// that WC_COMPOSITECHECK may compose with the character before it.
bool IsCombiningMark(char32_t c);

// Converts srcBytes bytes of src (-1: up to and including its NUL) to
// UTF-16. Returns the units written, or with dstUnits 0 the units needed;
// 0 on failure (unknown code page, bad flags, output too small, invalid
// input under MB_ERR_INVALID_CHARS). Undecodable bytes become U+FFFD (or the
// code page's substitution character).
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcBytes, char16_t* dst,
                        int dstUnits);

// Converts srcUnits UTF-16 units of src (-1: up to and including its NUL)
// to the code page. Returns the bytes written, or with dstBytes 0 the bytes
// needed; 0 on failure. A character that the code page lacks, and has no
// fallback for, becomes defaultChar ("?" when null) and sets
// *usedDefaultChar. WC_COMPOSITECHECK turns a base character followed by
// combining marks into the precomposed character when the code page has it.
// For CP_UTF8 the flags may only be WC_ERR_INVALID_CHARS and both default
// character arguments must be null; an unpaired surrogate becomes U+FFFD.
int WideCharToMultiByte(UINT codePage, DWORD flags, const char16_t* src, int srcUnits, char* dst,
                        int dstBytes, const char* defaultChar, BOOL* usedDefaultChar);
