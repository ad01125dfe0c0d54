// Text conversion between UTF-16 (COM strings) and the engines' 8-bit text,
// which is UTF-8 on this platform. Invalid sequences become U+FFFD.
#pragma once

#include <string>
#include <string_view>

#include "platform/wintypes.h"

std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);
// Converts into the caller's buffer, which holds at least 3 bytes per UTF-16 unit,
// so that a secret needs no temporary copy. Returns the bytes written.
std::size_t Utf16ToUtf8Into(std::u16string_view text, char* out);

// A new BSTR (the caller frees it with SysFreeString); null only when out of memory.
BSTR BstrFromUtf8(std::string_view text);
// The text of a BSTR (null = empty); embedded NULs are kept.
std::string Utf8FromBstr(const OLECHAR* bstr);
// A view of a BSTR's characters (null = empty).
std::u16string_view BstrView(const OLECHAR* bstr);

// ASCII comparisons without regard to case (no locale): protocol keywords,
// schemes, header and member names.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix);
// The text without the characters of `blanks` at either end.
constexpr std::string_view TrimmedOf(std::string_view text, std::string_view blanks = " \t") {
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}
// The value of one hexadecimal digit (either case), or -1.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Code pages: CP_ACP, CP_OEMCP and CP_UTF8 all mean UTF-8 here.
constexpr UINT CP_ACP = 0;
constexpr UINT CP_OEMCP = 1;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x8;

// Windows-shaped forms: a source length of -1 means NUL-terminated (the NUL is
// converted too); a target size of 0 asks for the needed size. Result: the
// number of units written (or needed), 0 on failure with the last error set.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* source, int sourceLength,
                        OLECHAR* target, int targetSize);
int WideCharToMultiByte(UINT codePage, DWORD flags, const OLECHAR* source, int sourceLength,
                        char* target, int targetSize, const char* defaultChar,
                        BOOL* usedDefaultChar);
