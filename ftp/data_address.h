// The addresses of data connections: reading PASV and EPSV replies, the rule
// that replaces private and loopback addresses by the server's own, the
// arguments of PORT and EPRT, and the walk over the active port range.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "net/net.h"

namespace ftp {

// What a passive reply names; an empty address text means "the server's own".
struct PassiveReply {
    std::string addressText;
    int family = NET_FAMILY_IPV4;
    int port = 0;
};

// Only the first 255 characters of a reply text are looked at.
inline constexpr std::size_t kPassiveReplyScan = 255;

// 0, or fileErrorInvalidServerResponse when the text holds no address and port.
int ParsePasvReply(std::string_view replyText, PassiveReply& reply);
int ParseEpsvReply(std::string_view replyText, PassiveReply& reply);

// Private, loopback, link-local, site-local and unspecified addresses, which a
// server behind a translating router reports instead of the address we reach.
bool IsPrivateAddress(const NetAddress& address);

// The address to connect to: the reply's, or the control connection's peer
// when the reply names none, names a private address, or ignoreReplyAddress
// is set. 0, or the error number (12005 unusable, 12204 another family).
int ChoosePassiveAddress(const PassiveReply& reply, const NetAddress& controlPeer,
                         bool ignoreReplyAddress, NetAddress& target);

// "h1,h2,h3,h4,p1,p2" for PORT and "|2|address|port|" for EPRT.
std::string FormatPortArgument(const NetAddress& local, int port);
std::string FormatEprtArgument(const NetAddress& local, int port);

// The active port range: the default range leaves the choice to the system;
// otherwise ports are tried from a start that spreads over the range (for
// ranges of at least 10) and wrap from the high end back to the low one.
class ActivePortWalk {
  public:
    ActivePortWalk(int low, int high, std::uint32_t tick);
    bool systemChooses() const { return systemChooses_; }
    int attempts() const { return attempts_; }
    int first() const { return first_; }
    int Next(int port) const { return port >= high_ ? low_ : port + 1; }

  private:
    int low_;
    int high_;
    int first_;
    int attempts_;
    bool systemChooses_;
};

}  // namespace ftp
