// SSH-2 message numbers used by the transport, and the ranges it treats alike.
#pragma once

#include <cstdint>

enum SshMessage : std::uint8_t {
    kSshMsgDisconnect = 1,
    kSshMsgIgnore = 2,
    kSshMsgUnimplemented = 3,
    kSshMsgDebug = 4,
    kSshMsgServiceRequest = 5,
    kSshMsgServiceAccept = 6,
    kSshMsgExtInfo = 7,
    kSshMsgKexinit = 20,
    kSshMsgNewkeys = 21,
    // Group 1 and 14, and the old group-exchange request, share the numbers 30 and 31.
    kSshMsgKexdhInit = 30,
    kSshMsgKexdhReply = 31,
    kSshMsgKexDhGexRequestOld = 30,
    kSshMsgKexDhGexGroup = 31,
    kSshMsgKexDhGexInit = 32,
    kSshMsgKexDhGexReply = 33,
    kSshMsgKexDhGexRequest = 34,
    // Elliptic-curve exchanges (Curve25519 and the NIST curves) use 30 and 31 as well.
    kSshMsgKexEcdhInit = 30,
    kSshMsgKexEcdhReply = 31,
    // The transport watches for the login's acceptance: delayed compression starts there.
    kSshMsgUserauthSuccess = 52,
};

// Disconnect reason codes the client sends.
enum SshDisconnectReason : std::uint32_t {
    kSshDisconnectProtocolError = 2,
    kSshDisconnectKeyExchangeFailed = 3,
    kSshDisconnectHostKeyNotVerifiable = 9,
    kSshDisconnectMacError = 5,
    kSshDisconnectCompressionError = 6,
    kSshDisconnectByApplication = 11,
    kSshDisconnectNoMoreAuthMethods = 14,
    kSshDisconnectAuthCancelledByUser = 13,
};

// Messages that may pass while a key exchange runs: the generic transport messages
// that do not belong to a service (disconnect, ignore, unimplemented, debug) and the
// key-exchange messages themselves. Everything else waits for the new keys.
inline bool SshPassesDuringKex(std::uint8_t type) {
    return (type >= kSshMsgDisconnect && type <= kSshMsgDebug) ||
           (type >= kSshMsgKexinit && type <= 49);
}
