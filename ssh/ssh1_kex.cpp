#include "ssh/ssh1_kex.h"

#include <cstdio>
#include <string>

#include "crypto/hash.h"
#include "crypto/random.h"
#include "crypto/rsa.h"
#include "crypto/sshbuf.h"
#include "resources/errors.h"
#include "ssh/messages.h"
#include "ssh/ssh1_packet.h"

namespace {

constexpr std::size_t kCookieLength = 8;
constexpr std::size_t kSessionKeyLength = 32;
constexpr std::uint32_t kProtocolFlags = 1;

struct Ssh1CipherRow {
    SshCipherChoice choice;
    int number;
};
constexpr Ssh1CipherRow kSsh1Ciphers[] = {
    {SshCipherChoice::TripleDes, 3},
    {SshCipherChoice::Blowfish, 6},
    {SshCipherChoice::SingleDes, 2},
};

SshKexFailure Refused(const char* text) {
    return {fileErrorSecurityContext, kSshDisconnectKeyExchangeFailed, text};
}

// uint32 bits, then exponent and modulus as SSH-1 integers.
PublicKeyPtr ReadSsh1Key(SshReader& reader) {
    std::uint32_t bits = 0;
    BigNum exponent, modulus;
    if (!reader.ReadUint32(&bits) || !reader.ReadSsh1Mpint(&exponent) ||
        !reader.ReadSsh1Mpint(&modulus))
        return nullptr;
    return PublicKeyPtr(RsaNewKey(std::move(exponent), std::move(modulus)));
}

const RsaPublicKey& Rsa(const PublicKeyPtr& key) {
    return static_cast<const RsaPublicKey&>(*key);
}

std::string Ssh1Fingerprint(const RsaPublicKey& key, std::size_t bits) {
    const SecureBytes modulus = key.modulus.ToBytes();
    const SecureBytes exponent = key.exponent.ToBytes();
    std::uint8_t digest[16];
    void* md5 = kHashMd5.create();
    kHashMd5.add(md5, modulus.data(), modulus.size());
    kHashMd5.add(md5, exponent.data(), exponent.size());
    kHashMd5.finish(md5, digest);
    std::string text = "rsa1 " + std::to_string(bits) + ' ';
    for (std::size_t i = 0; i < sizeof digest; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, i ? ":%02x" : "%02x", digest[i]);
        text += hex;
    }
    return text;
}

}  // namespace

std::optional<int> ChooseSsh1Cipher(const SshConfig& config, std::uint32_t serverCipherMask) {
    for (SshCipherChoice choice : config.cipherPreference) {
        for (const Ssh1CipherRow& row : kSsh1Ciphers) {
            if (row.choice == choice && (serverCipherMask & (1u << row.number)) != 0)
                return row.number;
        }
    }
    return std::nullopt;
}

std::optional<SshKexFailure> SetUpSsh1Session(const SshConfig& config,
                                              std::span<const std::uint8_t> message,
                                              Ssh1SessionSetup* setup) {
    SshReader reader(message.subspan(1));
    std::span<const std::uint8_t> cookie;
    if (!reader.ReadBytes(kCookieLength, &cookie)) return Refused("Malformed public-key message");
    const PublicKeyPtr serverKey = ReadSsh1Key(reader);
    const PublicKeyPtr hostKey = ReadSsh1Key(reader);
    std::uint32_t cipherMask = 0;
    if (!serverKey || !hostKey || !reader.ReadUint32(&setup->protocolFlags) ||
        !reader.ReadUint32(&cipherMask) || !reader.ReadUint32(&setup->supportedAuthentications) ||
        !reader.Finish())
        return SshKexFailure{fileErrorInvalidServerResponse, kSshDisconnectProtocolError,
                             "Malformed public-key message"};

    const SecureBytes hostModulus = Rsa(hostKey).modulus.ToBytes();
    const SecureBytes serverModulus = Rsa(serverKey).modulus.ToBytes();
    void* md5 = kHashMd5.create();
    kHashMd5.add(md5, hostModulus.data(), hostModulus.size());
    kHashMd5.add(md5, serverModulus.data(), serverModulus.size());
    kHashMd5.add(md5, cookie.data(), cookie.size());
    kHashMd5.finish(md5, setup->sessionId.data());
    setup->hostKeyBits = Rsa(hostKey).modulus.BitCount();
    setup->fingerprint = Ssh1Fingerprint(Rsa(hostKey), setup->hostKeyBits);

    const std::optional<int> cipher = ChooseSsh1Cipher(config, cipherMask);
    if (!cipher) return Refused("No common cipher algorithm");
    setup->cipherNumber = *cipher;
    setup->cipher = FindSsh1Cipher(*cipher);

    setup->sessionKey.assign(kSessionKeyLength, 0);
    RandomBytes(setup->sessionKey);
    SecureBytes masked = setup->sessionKey;
    for (std::size_t i = 0; i < setup->sessionId.size(); ++i)
        masked[i] ^= setup->sessionId[i];

    const bool serverFirst = Rsa(serverKey).modulus < Rsa(hostKey).modulus;
    const RsaPublicKey& inner = serverFirst ? Rsa(serverKey) : Rsa(hostKey);
    const RsaPublicKey& outer = serverFirst ? Rsa(hostKey) : Rsa(serverKey);
    BigNum once, twice;
    if (!RsaSsh1Encrypt(inner, masked, &once)) return Refused("Server key is too short");
    SecureBytes onceBytes(inner.modulus.ByteCount());
    once.ToBytes(onceBytes);
    if (!RsaSsh1Encrypt(outer, onceBytes, &twice)) return Refused("Host key is too short");

    SshWriter writer;
    writer.PutByte(kSsh1CmsgSessionKey);
    writer.PutByte(static_cast<std::uint8_t>(*cipher));
    writer.PutBytes(cookie);
    writer.PutSsh1Mpint(twice);
    writer.PutUint32(kProtocolFlags);
    setup->sessionKeyMessage = writer.Take();
    return std::nullopt;
}
