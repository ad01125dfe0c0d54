#include "platform/unknown.h"
#include "platform/text.h"

#include <cstdio>

namespace {

// Reads `digits` hex digits from text at pos.
bool ReadHex(std::string_view text, size_t& pos, int digits, unsigned long long* value) {
    if (pos + digits > text.size()) return false;
    unsigned long long v = 0;
    for (int i = 0; i < digits; ++i) {
        int d = HexDigitValue(text[pos + i]);
        if (d < 0) return false;
        v = (v << 4) | static_cast<unsigned>(d);
    }
    pos += digits;
    *value = v;
    return true;
}

bool Expect(std::string_view text, size_t& pos, char c) {
    if (pos >= text.size() || text[pos] != c) return false;
    ++pos;
    return true;
}

}  // namespace

std::string GuidToString(const GUID& g) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buffer;
}

bool GuidFromString(std::string_view text, GUID* guid) {
    bool braced = !text.empty() && text.front() == '{';
    if (braced && text.back() != '}') return false;
    if (braced) text = text.substr(1, text.size() - 2);
    size_t pos = 0;
    unsigned long long d1, d2, d3, part;
    GUID g{};
    if (!ReadHex(text, pos, 8, &d1) || !Expect(text, pos, '-') || !ReadHex(text, pos, 4, &d2) ||
        !Expect(text, pos, '-') || !ReadHex(text, pos, 4, &d3) || !Expect(text, pos, '-'))
        return false;
    for (int i = 0; i < 8; ++i) {
        if (i == 2 && !Expect(text, pos, '-')) return false;
        if (!ReadHex(text, pos, 2, &part)) return false;
        g.Data4[i] = static_cast<BYTE>(part);
    }
    if (pos != text.size() || !guid) return false;
    g.Data1 = static_cast<DWORD>(d1);
    g.Data2 = static_cast<WORD>(d2);
    g.Data3 = static_cast<WORD>(d3);
    *guid = g;
    return true;
}

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int size) {
    std::string text = GuidToString(guid);
    int needed = static_cast<int>(text.size()) + 1;
    if (!buffer || size < needed) return 0;
    for (size_t i = 0; i < text.size(); ++i)
        buffer[i] = static_cast<OLECHAR>(text[i]);
    buffer[text.size()] = 0;
    return needed;
}
