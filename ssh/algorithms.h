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

#include "crypto/bignum.h"
#include "crypto/cipher.h"
#include "crypto/hash.h"
#include "crypto/mac.h"
#include "crypto/pubkey.h"
#include "ssh/config.h"

enum class SshKexKind { GroupExchange, Group14, Group1 };

struct SshKexMethod {
    std::string_view name;
    SshKexKind kind;
    const HashDescriptor* hash;
};

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

// What the client offers under this configuration and workaround mask.
SshKexinit SshClientOffer(const SshConfig& config, std::uint32_t workaroundMask);

// The message (type byte included) with a random cookie.
SecureBytes BuildSshKexinit(const SshKexinit& offer);
// Parses a received message (type byte included); nullopt when malformed.
std::optional<SshKexinit> ParseSshKexinit(std::span<const std::uint8_t> message);

struct SshNegotiated {
    const SshKexMethod* kex = nullptr;
    const PublicKeyAlgorithm* hostKey = nullptr;
    const CipherDescriptor* cipherCs = nullptr;
    const CipherDescriptor* cipherSc = nullptr;
    const MacDescriptor* macCs = nullptr;
    const MacDescriptor* macSc = nullptr;
    bool compressionCs = false;  // true for "zlib"
    bool compressionSc = false;
    // The server sent a guessed key-exchange packet that guessed wrong.
    bool ignoreGuessedPacket = false;
};

// The negotiated names as they appear on the wire, for display ("" where a list
// was not negotiated, such as the MAC of an authenticated cipher).
struct SshNegotiatedNames {
    std::string kex, hostKey, cipherCs, cipherSc, macCs, macSc;
};
SshNegotiatedNames NamesOf(const SshNegotiated& negotiated);

// For each list the first client entry the server also lists. nullopt (with the
// list's index in *failedList) when a list has no common entry.
std::optional<SshNegotiated> NegotiateSsh(const SshKexinit& client, const SshKexinit& server,
                                          std::uint32_t workaroundMask,
                                          std::size_t* failedList = nullptr);

// Group-exchange size: nbits is the larger key size of the two ciphers, at most 8
// times the hash length; the modulus size asked for is 512 << ((nbits - 1) / 64).
std::uint32_t SshGroupExchangeBits(const CipherDescriptor& cs, const CipherDescriptor& sc,
                                   const HashDescriptor& hash);
// Bits of the private exponent: twice nbits as above.
std::size_t SshExponentBits(const CipherDescriptor& cs, const CipherDescriptor& sc,
                            const HashDescriptor& hash);
