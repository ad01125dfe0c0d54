#include "ftp/data_address.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

#include "net/trace.h"
#include "resources/errors.h"

namespace ftp {
namespace {

constexpr int kDefaultLowPort = 1025;
constexpr int kDefaultHighPort = 4999;
constexpr int kSpreadRange = 10;
constexpr int kMaxPortAttempts = 1000;
constexpr int kMaxPort = 65535;

// A bounded reader of decimal numbers and separators over a text.
class NumberCursor {
  public:
    explicit NumberCursor(std::string_view text) : text_(text) {}
    // A number of at most `maxDigits` digits, or -1.
    int Number(int maxDigits) {
        int value = 0;
        int digits = 0;
        while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_])) &&
               digits < maxDigits) {
            value = value * 10 + (text_[pos_++] - '0');
            ++digits;
        }
        return digits == 0 ? -1 : value;
    }
    bool Skip(char c) {
        if (pos_ >= text_.size() || text_[pos_] != c) return false;
        ++pos_;
        return true;
    }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

std::string_view PasvNumbers(std::string_view text) {
    for (char opener : {'(', '['}) {
        std::size_t at = text.find(opener);
        if (at != std::string_view::npos) return text.substr(at + 1);
    }
    auto digit = std::find_if(text.begin(), text.end(),
                              [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
    if (digit == text.end()) return {};
    return text.substr(static_cast<std::size_t>(digit - text.begin()));
}

bool InPrefix(const NetAddress& address, std::initializer_list<std::uint8_t> prefix,
              std::uint8_t lastMask) {
    std::size_t i = 0;
    for (std::uint8_t byte : prefix) {
        bool last = i + 1 == prefix.size();
        std::uint8_t mask = last ? lastMask : 0xFF;
        if ((address.address[i] & mask) != byte) return false;
        ++i;
    }
    return true;
}

bool IsPrivateIpv4(const NetAddress& a) {
    return InPrefix(a, {0}, 0xFF) || InPrefix(a, {10}, 0xFF) || InPrefix(a, {127}, 0xFF) ||
           InPrefix(a, {172, 16}, 0xF0) || InPrefix(a, {192, 168}, 0xFF);
}

bool IsPrivateIpv6(const NetAddress& a) {
    static constexpr std::array<std::uint8_t, 16> kZero{};
    bool allZeroButLast = std::memcmp(a.address, kZero.data(), 15) == 0;
    bool unspecifiedOrLoopback = allZeroButLast && a.address[15] <= 1;
    return unspecifiedOrLoopback || InPrefix(a, {0xFE, 0x80}, 0xC0) ||
           InPrefix(a, {0xFE, 0xC0}, 0xC0);
}

}  // namespace

int ParsePasvReply(std::string_view replyText, PassiveReply& reply) {
    std::string_view text = PasvNumbers(replyText.substr(0, kPassiveReplyScan));
    NumberCursor cursor(text);
    std::array<int, 6> numbers{};
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        numbers[i] = cursor.Number(3);
        bool separated = i + 1 == numbers.size() || cursor.Skip(',');
        if (numbers[i] < 0 || numbers[i] > 255 || !separated) {
            return fileErrorInvalidServerResponse;
        }
    }
    reply.family = NET_FAMILY_IPV4;
    reply.addressText = std::to_string(numbers[0]) + '.' + std::to_string(numbers[1]) + '.' +
                        std::to_string(numbers[2]) + '.' + std::to_string(numbers[3]);
    reply.port = numbers[4] * 256 + numbers[5];
    return 0;
}

int ParseEpsvReply(std::string_view replyText, PassiveReply& reply) {
    std::string_view text = replyText.substr(0, kPassiveReplyScan);
    std::size_t first = text.find('|');
    if (first == std::string_view::npos) return fileErrorInvalidServerResponse;
    std::array<std::string_view, 3> fields{};
    std::size_t start = first + 1;
    for (auto& field : fields) {
        std::size_t end = text.find('|', start);
        if (end == std::string_view::npos) return fileErrorInvalidServerResponse;
        field = text.substr(start, end - start);
        start = end + 1;
    }
    if (!fields[0].empty() && fields[0] != "2") return fileErrorInvalidServerResponse;
    int port = 0;
    if (!fields[2].empty()) {
        NumberCursor cursor(fields[2]);
        port = cursor.Number(5);
        if (port < 0 || port > kMaxPort || fields[2].size() > 5) {
            return fileErrorInvalidServerResponse;
        }
        bool allDigits = std::all_of(fields[2].begin(), fields[2].end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c));
        });
        if (!allDigits) return fileErrorInvalidServerResponse;
    }
    reply.family = NET_FAMILY_IPV6;
    reply.addressText = std::string(fields[1]);
    reply.port = port;
    return 0;
}

bool IsPrivateAddress(const NetAddress& address) {
    if (address.family == NET_FAMILY_IPV4) return IsPrivateIpv4(address);
    if (address.family == NET_FAMILY_IPV6) return IsPrivateIpv6(address);
    return false;
}

int ChoosePassiveAddress(const PassiveReply& reply, const NetAddress& controlPeer,
                         bool ignoreReplyAddress, NetAddress& target) {
    target = controlPeer;
    if (ignoreReplyAddress) {
        NetTraceMessage(NET_TRACE_INFO, "Ignoring passive IP address, using host address instead");
        return 0;
    }
    if (reply.addressText.empty()) return 0;
    NetAddress named{};
    if (NetParseAddress(reply.addressText.c_str(), reply.family, &named) != reply.family) {
        return reply.family == NET_FAMILY_IPV6 ? fileErrorInvalidServerResponse
                                               : fileErrorInvalidHostAddress;
    }
    if (IsPrivateAddress(named)) return 0;
    if (named.family != controlPeer.family) return fileErrorInvalidServerResponse;
    target = named;
    return 0;
}

std::string FormatPortArgument(const NetAddress& local, int port) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        text += std::to_string(local.address[i]);
        text += ',';
    }
    return text + std::to_string((port >> 8) & 0xFF) + ',' + std::to_string(port & 0xFF);
}

std::string FormatEprtArgument(const NetAddress& local, int port) {
    char address[64] = {};
    if (!NetInetNtop(NET_FAMILY_IPV6, local.address, address, sizeof address)) return {};
    return std::string("|2|") + address + '|' + std::to_string(port) + '|';
}

ActivePortWalk::ActivePortWalk(int low, int high, std::uint32_t tick)
    : low_(low), high_(high), first_(low), attempts_(0), systemChooses_(false) {
    if (low == kDefaultLowPort && high == kDefaultHighPort) {
        systemChooses_ = true;
        return;
    }
    int range = high - low;
    if (range >= kSpreadRange) first_ = low + static_cast<int>(tick % static_cast<unsigned>(range));
    attempts_ = std::min(std::max(range, 1), kMaxPortAttempts);
}

}  // namespace ftp
