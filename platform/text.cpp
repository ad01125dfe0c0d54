#include "platform/text.h"

#include <algorithm>

#include <cstring>

#include "platform/automation.h"
#include "platform/lasterror.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Reads one UTF-8 sequence at text[pos]; advances pos by the bytes consumed.
// A malformed sequence consumes its first byte only and gives U+FFFD.
char32_t DecodeUtf8(std::string_view text, size_t& pos, bool* invalid) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    struct Form {
        unsigned char mask, value;
        int extra;
        char32_t minimum;
    };
    static constexpr Form kForms[] = {
        {0xE0, 0xC0, 1, 0x80}, {0xF0, 0xE0, 2, 0x800}, {0xF8, 0xF0, 3, 0x10000}};
    for (const Form& form : kForms) {
        if ((lead & form.mask) != form.value) continue;
        if (pos + form.extra >= text.size()) break;
        char32_t cp = lead & static_cast<unsigned char>(~form.mask);
        int i = 1;
        for (; i <= form.extra; ++i) {
            if ((byte(pos + i) & 0xC0) != 0x80) break;
            cp = (cp << 6) | (byte(pos + i) & 0x3F);
        }
        if (i <= form.extra) break;
        bool valid = cp >= form.minimum && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
        if (!valid) break;
        pos += form.extra + 1;
        return cp;
    }
    ++pos;
    if (invalid) *invalid = true;
    return kReplacement;
}

// Reads one UTF-16 code point; an unpaired surrogate gives U+FFFD.
char32_t DecodeUtf16(std::u16string_view text, size_t& pos, bool* invalid) {
    char16_t unit = text[pos++];
    if (unit < 0xD800 || unit > 0xDFFF) return unit;
    if (unit <= 0xDBFF && pos < text.size() && text[pos] >= 0xDC00 && text[pos] <= 0xDFFF) {
        char16_t low = text[pos++];
        return 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (low - 0xDC00);
    }
    if (invalid) *invalid = true;
    return kReplacement;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
}

std::u16string ToUtf16(std::string_view text, bool* invalid) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();)
        AppendUtf16(out, DecodeUtf8(text, pos, invalid));
    return out;
}

std::string ToUtf8(std::u16string_view text, bool* invalid) {
    std::string out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();)
        AppendUtf8(out, DecodeUtf16(text, pos, invalid));
    return out;
}

bool KnownCodePage(UINT codePage) {
    return codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_UTF8;
}

// Copies a converted text out the Windows way: size 0 asks for the length.
template <class Char>
int CopyOut(const std::basic_string<Char>& converted, Char* target, int targetSize) {
    if (converted.size() > static_cast<size_t>(INT32_MAX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int needed = static_cast<int>(converted.size());
    if (targetSize == 0) return needed;
    if (!target || targetSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(target, converted.data(), converted.size() * sizeof(Char));
    return needed;
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
    return ToUtf8(text, nullptr);
}
std::size_t Utf16ToUtf8Into(std::u16string_view text, char* out) {
    std::size_t written = 0;
    for (size_t pos = 0; pos < text.size();) {
        const char32_t cp = DecodeUtf16(text, pos, nullptr);
        // A surrogate pair (two units) gives four bytes, a single unit at most three.
        const int count = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
        static constexpr unsigned char kLead[] = {0, 0, 0xC0, 0xE0, 0xF0};
        for (int i = count - 1; i > 0; --i)
            out[written + i] = static_cast<char>(0x80 | ((cp >> (6 * (count - 1 - i))) & 0x3F));
        out[written] = static_cast<char>(count == 1 ? cp : kLead[count] | (cp >> (6 * (count - 1))));
        written += count;
    }
    return written;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    return ToUtf16(text, nullptr);
}

BSTR BstrFromUtf8(std::string_view text) {
    std::u16string wide = Utf8ToUtf16(text);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

std::u16string_view BstrView(const OLECHAR* bstr) {
    if (!bstr) return {};
    return std::u16string_view(bstr, SysStringLen(const_cast<BSTR>(bstr)));
}

std::string Utf8FromBstr(const OLECHAR* bstr) {
    return Utf16ToUtf8(BstrView(bstr));
}

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* source, int sourceLength,
                        OLECHAR* target, int targetSize) {
    if (!KnownCodePage(codePage) || !source || sourceLength == 0 || sourceLength < -1 ||
        targetSize < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length = sourceLength == -1 ? std::strlen(source) + 1 : size_t(sourceLength);
    bool invalid = false;
    std::u16string converted = ToUtf16(std::string_view(source, length), &invalid);
    if (invalid && (flags & MB_ERR_INVALID_CHARS)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    return CopyOut(converted, target, targetSize);
}

int WideCharToMultiByte(UINT codePage, DWORD, const OLECHAR* source, int sourceLength, char* target,
                        int targetSize, const char*, BOOL* usedDefaultChar) {
    if (!KnownCodePage(codePage) || !source || sourceLength == 0 || sourceLength < -1 ||
        targetSize < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length =
        sourceLength == -1 ? std::char_traits<char16_t>::length(source) + 1 : size_t(sourceLength);
    bool invalid = false;
    std::string converted = ToUtf8(std::u16string_view(source, length), &invalid);
    if (usedDefaultChar) *usedDefaultChar = invalid ? TRUE : FALSE;
    return CopyOut(converted, target, targetSize);
}

namespace {

constexpr char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

}  // namespace

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}
