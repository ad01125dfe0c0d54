#include "url/ipv6literal.h"
#include "platform/text.h"

#include <cstddef>

#include "platform/text_cursor.h"

namespace {

constexpr int kGroupCount = 8;
constexpr std::size_t kMaxHexDigits = 4;

bool ParseHexGroup(std::string_view piece, std::uint16_t* group) {
    if (piece.empty() || piece.size() > kMaxHexDigits) return false;
    unsigned value = 0;
    for (char c : piece) {
        int digit = HexDigitValue(c);
        if (digit < 0) return false;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    *group = static_cast<std::uint16_t>(value);
    return true;
}

// One decimal part of a dotted IPv4 address: 0 to 255, no leading zeros.
bool ParseOctet(std::string_view part, unsigned* octet) {
    if (part.empty() || part.size() > 3 || (part.size() > 1 && part.front() == '0')) return false;
    unsigned value = 0;
    for (char c : part) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    *octet = value;
    return value <= 255;
}

// A dotted IPv4 tail, stored as two 16-bit groups.
bool ParseIpv4Tail(std::string_view piece, std::uint16_t* high, std::uint16_t* low) {
    TextCursor in(piece);
    unsigned octets[4];
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && !in.SkipPrefix(".")) return false;
        if (!ParseOctet(in.TakeUntilAny("."), &octets[i])) return false;
    }
    if (!in.AtEnd()) return false;
    *high = static_cast<std::uint16_t>(octets[0] << 8 | octets[1]);
    *low = static_cast<std::uint16_t>(octets[2] << 8 | octets[3]);
    return true;
}

struct GroupList {
    std::uint16_t groups[kGroupCount] = {};
    int count = 0;
    int gapAt = -1;  // index where "::" stands, -1 when absent
};

bool ReadGroups(std::string_view text, GroupList* list) {
    TextCursor in(text);
    if (in.SkipPrefix("::")) {
        list->gapAt = 0;
        if (in.AtEnd()) return true;
    }
    for (;;) {
        std::string_view piece = in.TakeUntilAny(":");
        if (piece.find('.') != std::string_view::npos) {
            if (!in.AtEnd() || list->count > kGroupCount - 2) return false;
            if (!ParseIpv4Tail(piece, &list->groups[list->count], &list->groups[list->count + 1]))
                return false;
            list->count += 2;
            return true;
        }
        if (list->count == kGroupCount || !ParseHexGroup(piece, &list->groups[list->count]))
            return false;
        ++list->count;
        if (in.AtEnd()) return true;
        in.SkipPrefix(":");
        if (in.SkipPrefix(":")) {
            if (list->gapAt >= 0) return false;
            list->gapAt = list->count;
            if (in.AtEnd()) return true;
        } else if (in.AtEnd()) {
            return false;
        }
    }
}

}  // namespace

bool ParseIpv6Literal(std::string_view text, Ipv6Bytes* address) {
    GroupList list;
    if (!ReadGroups(text, &list)) return false;
    // "::" must stand for at least one zero group.
    if (list.gapAt < 0 ? list.count != kGroupCount : list.count >= kGroupCount) return false;
    if (address == nullptr) return true;

    std::uint16_t expanded[kGroupCount] = {};
    int tail = list.gapAt < 0 ? 0 : list.count - list.gapAt;
    int head = list.count - tail;
    for (int i = 0; i < head; ++i)
        expanded[i] = list.groups[i];
    for (int i = 0; i < tail; ++i)
        expanded[kGroupCount - tail + i] = list.groups[head + i];
    for (int i = 0; i < kGroupCount; ++i) {
        (*address)[2 * i] = static_cast<std::uint8_t>(expanded[i] >> 8);
        (*address)[2 * i + 1] = static_cast<std::uint8_t>(expanded[i] & 0xFF);
    }
    return true;
}

bool IsIpv6Literal(std::string_view host) {
    std::size_t percent = host.find('%');
    if (percent != std::string_view::npos) {
        if (percent + 1 == host.size()) return false;  // "%" without a zone
        host = host.substr(0, percent);
    }
    return ParseIpv6Literal(host);
}
