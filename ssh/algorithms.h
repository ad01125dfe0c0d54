// Algorithm tables, the key-exchange init message and negotiation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/aead.h"
#include "crypto/bignum.h"
#include "crypto/cipher.h"
#include "crypto/hash.h"
#include "crypto/mac.h"
#include "crypto/pubkey.h"
#include "ssh/compression.h"
#include "ssh/config.h"

// How the shared secret is agreed: Diffie-Hellman over a fixed or a server-given
// group, or an elliptic-curve exchange (Curve25519 or a NIST curve).
enum class SshKexKind { GroupExchange, Group14, Group16, Group18, Group1, Curve25519, Ecdh };

struct SshKexMethod {
    std::string_view name;
    SshKexKind kind;
    const HashDescriptor* hash;
    std::string_view curve;  // the NIST curve of an Ecdh method ("nistp256")
};

// Pseudo-algorithms of the key-exchange list: the client's wish for the server's
// extension message, and the strict key exchange of either side.
constexpr std::string_view kSshExtInfoClient = "ext-info-c";
constexpr std::string_view kSshStrictKexClient = "kex-strict-c-v00@openssh.com";
constexpr std::string_view kSshStrictKexServer = "kex-strict-s-v00@openssh.com";

std::span<const SshKexMethod> SshKexMethods();
const SshKexMethod* FindSshKexMethod(std::string_view name);

// The ten name lists of a key-exchange init message, in wire order.
enum SshNameListIndex : std::size_t {
    kListKex = 0,
    kListHostKey,
    kListCipherCs,
    kListCipherSc,
    kListMacCs,
    kListMacSc,
    kListCompressionCs,
    kListCompressionSc,
    kListLanguageCs,
    kListLanguageSc,
    kNameListCount,
};

using SshNameList = std::vector<std::string>;

struct SshKexinit {
    std::array<SshNameList, kNameListCount> lists;
    bool firstPacketFollows = false;
};

// "a,b,c" without the key-exchange pseudo-algorithms (extension and strict-exchange
// markers), for messages.
std::string JoinSshNames(const SshNameList& names);

// What the client offers under this configuration and workaround mask. The first
// exchange of a connection also asks for the extension message and the strict
// key exchange.
SshKexinit SshClientOffer(const SshConfig& config, std::uint32_t workaroundMask,
                          bool firstExchange = true);

// The message (type byte included) with a random cookie.
SecureBytes BuildSshKexinit(const SshKexinit& offer);
// Parses a received message (type byte included); nullopt when malformed.
std::optional<SshKexinit> ParseSshKexinit(std::span<const std::uint8_t> message);

struct SshNegotiated {
    const SshKexMethod* kex = nullptr;
    const PublicKeyAlgorithm* hostKey = nullptr;
    // Each direction has either a cipher and a MAC, or an authenticated cipher
    // (then cipher and MAC are null: the MAC lists are not negotiated).
    const CipherDescriptor* cipherCs = nullptr;
    const CipherDescriptor* cipherSc = nullptr;
    const AeadDescriptor* aeadCs = nullptr;
    const AeadDescriptor* aeadSc = nullptr;
    const MacDescriptor* macCs = nullptr;
    const MacDescriptor* macSc = nullptr;
    // The "-etm@openssh.com" forms: the MAC covers the encrypted packet.
    bool etmCs = false;
    bool etmSc = false;
    // Both sides asked for the strict key exchange (first exchange only).
    bool strictKex = false;
    SshCompression compressionCs = SshCompression::None;
    SshCompression compressionSc = SshCompression::None;
    // The server sent a guessed key-exchange packet that guessed wrong.
    bool ignoreGuessedPacket = false;
};

// The negotiated names as they appear on the wire, for display ("" where a list
// was not negotiated, such as the MAC of an authenticated cipher).
struct SshNegotiatedNames {
    std::string kex, hostKey, cipherCs, cipherSc, macCs, macSc, compressionCs, compressionSc;
};
SshNegotiatedNames NamesOf(const SshNegotiated& negotiated);

// For each list the first client entry the server also lists. nullopt (with the
// list's index in *failedList) when a list has no common entry.
std::optional<SshNegotiated> NegotiateSsh(const SshKexinit& client, const SshKexinit& server,
                                          std::uint32_t workaroundMask,
                                          std::size_t* failedList = nullptr);

// The key bits of a direction's cipher (authenticated or not).
int SshCipherKeyBits(const SshNegotiated& negotiated, bool clientToServer);

// Group-exchange size: nbits is the larger key size of the two ciphers, at most 8
// times the hash length; the modulus size asked for is 512 << ((nbits - 1) / 64).
std::uint32_t SshGroupExchangeBits(const CipherDescriptor& cs, const CipherDescriptor& sc,
                                   const HashDescriptor& hash);
std::uint32_t SshGroupExchangeBits(const SshNegotiated& negotiated);
// Bits of the private exponent: twice nbits as above.
std::size_t SshExponentBits(const CipherDescriptor& cs, const CipherDescriptor& sc,
                            const HashDescriptor& hash);
std::size_t SshExponentBits(const SshNegotiated& negotiated);
