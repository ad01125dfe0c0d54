// Private key files: the armor, the dispatch by label, the file itself, and
// the OpenSSH format ("openssh-key-v1"), plain or bcrypt + AES.
#include "ssh/private_key.h"

#include <algorithm>
#include <cstring>

#include "crypto/aes.h"
#include "crypto/base64.h"
#include "crypto/bcrypt_pbkdf.h"
#include "crypto/ecc.h"
#include "crypto/ed25519.h"
#include "crypto/sshbuf.h"
#include "platform/file.h"
#include "platform/text.h"
#include "platform/wipe.h"
#include "ssh/key_signers.h"

namespace {

SshKeyLoadResult Failure(SshKeyLoadStatus status, std::string detail) {
    return {status, nullptr, std::move(detail)};
}

// ---- Armor ---------------------------------------------------------------

constexpr std::string_view kBegin = "-----BEGIN ";
constexpr std::string_view kDashes = "-----";
constexpr std::size_t kMaxHeaders = 8;

// A line's text without blanks around it (nor the CR of a CR LF end).
std::string_view Trim(std::string_view text) {
    return TrimmedOf(text, " \t\r");
}

// Splits off the next line (without its end) from text.
std::string_view NextLine(std::string_view* text) {
    const std::size_t end = text->find('\n');
    std::string_view line = text->substr(0, end);
    text->remove_prefix(end == std::string_view::npos ? text->size() : end + 1);
    return Trim(line);
}

// ---- OpenSSH format ------------------------------------------------------

constexpr std::string_view kOpensshMagic{"openssh-key-v1\0", 15};
constexpr std::uint32_t kMaxBcryptRounds = 1024;
constexpr std::size_t kMaxSaltBytes = 1024;

enum class CipherMode { None, Ctr, Cbc };

struct OpensshCipher {
    std::string_view name;
    CipherMode mode;
    std::size_t keyLength;
    std::size_t blockLength;  // the private section is padded to this
};

constexpr OpensshCipher kOpensshCiphers[] = {
    {"none", CipherMode::None, 0, 8},
    {"aes256-ctr", CipherMode::Ctr, 32, kAesBlockLength},
    {"aes192-ctr", CipherMode::Ctr, 24, kAesBlockLength},
    {"aes128-ctr", CipherMode::Ctr, 16, kAesBlockLength},
    {"aes256-cbc", CipherMode::Cbc, 32, kAesBlockLength},
    {"aes192-cbc", CipherMode::Cbc, 24, kAesBlockLength},
    {"aes128-cbc", CipherMode::Cbc, 16, kAesBlockLength},
};

const OpensshCipher* FindOpensshCipher(std::string_view name) {
    for (const OpensshCipher& cipher : kOpensshCiphers)
        if (cipher.name == name) return &cipher;
    return nullptr;
}

bool SameBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

// An mpint's bytes as a non-negative big-endian number (leading zeros kept).
bool ReadUnsignedMpintBytes(SshReader& reader, std::span<const std::uint8_t>* bytes) {
    return reader.ReadString(bytes) && (bytes->empty() || ((*bytes)[0] & 0x80) == 0);
}

// Each reader takes the fields after the key type in the private section,
// public ones included, and gives a signer only when the stated public fields
// are the ones the private half yields.
using PrivateFieldsReader = std::unique_ptr<SshSigner> (*)(SshReader& reader,
                                                           std::string_view origin);

std::unique_ptr<SshSigner> ReadEd25519Fields(SshReader& reader, std::string_view origin) {
    std::span<const std::uint8_t> publicKey, secret;
    if (!reader.ReadString(&publicKey) || publicKey.size() != kEd25519PublicKeyLength ||
        !reader.ReadString(&secret) ||
        secret.size() != kEd25519SeedLength + kEd25519PublicKeyLength ||
        !SameBytes(secret.subspan(kEd25519SeedLength), publicKey)) {
        return nullptr;
    }
    auto signer = MakeEd25519Signer(secret.first(kEd25519SeedLength), std::string(origin));
    SshWriter stated;
    stated.PutString("ssh-ed25519");
    stated.PutString(publicKey);
    if (!signer || !SameBytes(signer->publicKeyBlob(), stated.data())) return nullptr;
    return signer;
}

template <const char* kCurve>
std::unique_ptr<SshSigner> ReadEcdsaFields(SshReader& reader, std::string_view origin) {
    std::string_view curveName;
    std::span<const std::uint8_t> point, scalar;
    if (!reader.ReadString(&curveName) || curveName != kCurve || !reader.ReadString(&point) ||
        !ReadUnsignedMpintBytes(reader, &scalar)) {
        return nullptr;
    }
    const EcCurve* curve = FindEcCurve(curveName);
    if (!curve) return nullptr;
    auto signer = MakeEcdsaSigner(*curve, scalar, std::string(origin));
    SshWriter stated;
    stated.PutString("ecdsa-sha2-" + std::string(curveName));
    stated.PutString(curveName);
    stated.PutString(point);
    if (!signer || !SameBytes(signer->publicKeyBlob(), stated.data())) return nullptr;
    return signer;
}

std::unique_ptr<SshSigner> ReadRsaFields(SshReader& reader, std::string_view origin) {
    RsaPrivateKey key;
    if (!reader.ReadMpint(&key.modulus) || !reader.ReadMpint(&key.publicExponent) ||
        !reader.ReadMpint(&key.privateExponent) || !reader.ReadMpint(&key.coefficient) ||
        !reader.ReadMpint(&key.prime1) || !reader.ReadMpint(&key.prime2)) {
        return nullptr;
    }
    // The blob MakeRsaSigner writes comes from these very n and e.
    return MakeRsaSigner(std::move(key), std::string(origin));
}

constexpr char kNistp256[] = "nistp256";
constexpr char kNistp384[] = "nistp384";
constexpr char kNistp521[] = "nistp521";

struct OpensshKeyType {
    std::string_view name;
    PrivateFieldsReader read;
};

constexpr OpensshKeyType kOpensshKeyTypes[] = {
    {"ssh-ed25519", ReadEd25519Fields},
    {"ecdsa-sha2-nistp256", ReadEcdsaFields<kNistp256>},
    {"ecdsa-sha2-nistp384", ReadEcdsaFields<kNistp384>},
    {"ecdsa-sha2-nistp521", ReadEcdsaFields<kNistp521>},
    {"ssh-rsa", ReadRsaFields},
};

const OpensshKeyType* FindOpensshKeyType(std::string_view name) {
    for (const OpensshKeyType& type : kOpensshKeyTypes)
        if (type.name == name) return &type;
    return nullptr;
}

// Decrypts the private section in place with the bcrypt-derived key and IV.
bool DecryptPrivateSection(const OpensshCipher& cipher, std::span<const std::uint8_t> kdfOptions,
                           std::span<const std::uint8_t> passphrase, SecureBytes* section,
                           SshKeyLoadResult* failure) {
    SshReader options(kdfOptions);
    std::span<const std::uint8_t> salt;
    std::uint32_t rounds;
    if (!options.ReadString(&salt) || !options.ReadUint32(&rounds) || !options.Finish() ||
        salt.empty() || salt.size() > kMaxSaltBytes) {
        *failure =
            Failure(SshKeyLoadStatus::BadFormat, "the key file's bcrypt parameters are damaged");
        return false;
    }
    if (rounds == 0 || rounds > kMaxBcryptRounds) {
        *failure =
            Failure(SshKeyLoadStatus::BadFormat,
                    "the key file asks for " + std::to_string(rounds) + " bcrypt rounds (1 to " +
                        std::to_string(kMaxBcryptRounds) + " are accepted)");
        return false;
    }
    if (passphrase.empty()) {
        *failure = Failure(SshKeyLoadStatus::PassphraseNeeded, "the key file is encrypted");
        return false;
    }
    SecureBytes keyAndIv(cipher.keyLength + kAesBlockLength);
    if (!BcryptPbkdf(passphrase, salt, rounds, keyAndIv)) {
        *failure =
            Failure(SshKeyLoadStatus::BadFormat, "the key file's bcrypt parameters are damaged");
        return false;
    }
    AesKey key;
    AesSetKey(key, keyAndIv.data(), cipher.keyLength);
    std::uint8_t iv[kAesBlockLength];
    std::memcpy(iv, keyAndIv.data() + cipher.keyLength, sizeof iv);
    if (cipher.mode == CipherMode::Ctr)
        AesSdctr(key, iv, section->data(), section->size());
    else
        AesCbcDecrypt(key, iv, section->data(), section->size());
    AesWipe(key);
    SecureWipe(iv, sizeof iv);
    return true;
}

}  // namespace

bool ReadPemArmor(std::string_view text, PemArmor* armor, std::string* detail) {
    // The armor may follow other text (as in files that carry a certificate too),
    // and OpenSSL's EC keys may come after a block of their curve's parameters.
    constexpr std::string_view kEcParameters = "-----BEGIN EC PARAMETERS-----";
    std::string_view line;
    do {
        if (text.empty()) {
            *detail = "no \"-----BEGIN ... PRIVATE KEY-----\" line was found";
            return false;
        }
        line = NextLine(&text);
        if (line == kEcParameters) {
            while (!text.empty() && NextLine(&text) != "-----END EC PARAMETERS-----") {
            }
            line = {};
        }
    } while (!line.starts_with(kBegin));
    if (line.size() < kBegin.size() + kDashes.size() || !line.ends_with(kDashes)) {
        *detail = "the key file's first armor line is malformed";
        return false;
    }
    armor->label = line.substr(kBegin.size(), line.size() - kBegin.size() - kDashes.size());
    const std::string end = "-----END " + armor->label + "-----";

    SecureBytes base64;
    bool inHeaders = true;
    for (;;) {
        if (text.empty()) {
            *detail = "the key file has no \"" + end + "\" line";
            return false;
        }
        line = NextLine(&text);
        if (line == end) break;
        if (inHeaders) {
            const std::size_t colon = line.find(':');
            if (colon != std::string_view::npos) {
                if (armor->headers.size() == kMaxHeaders) {
                    *detail = "the key file has too many header lines";
                    return false;
                }
                armor->headers.emplace_back(Trim(line.substr(0, colon)),
                                            Trim(line.substr(colon + 1)));
                continue;
            }
            inHeaders = false;
            if (line.empty()) continue;
        }
        for (char c : line)
            if (c != ' ' && c != '\t') base64.push_back(static_cast<std::uint8_t>(c));
    }
    auto decoded =
        Base64Decode(std::string_view(reinterpret_cast<const char*>(base64.data()), base64.size()));
    if (!decoded || decoded->empty()) {
        *detail = "the key file's Base64 text is damaged";
        return false;
    }
    armor->body.assign(decoded->begin(), decoded->end());
    SecureWipe(decoded->data(), decoded->size());
    return true;
}

SshKeyLoadResult LoadOpensshKey(std::span<const std::uint8_t> body, std::string_view origin,
                                std::span<const std::uint8_t> passphrase) {
    const auto damaged = [] {
        return Failure(SshKeyLoadStatus::BadFormat, "the OpenSSH key file is damaged");
    };
    SshReader reader(body);
    std::span<const std::uint8_t> magic, kdfOptions, publicBlob, encrypted;
    std::string_view cipherName, kdfName;
    std::uint32_t keyCount;
    if (!reader.ReadBytes(kOpensshMagic.size(), &magic) ||
        std::memcmp(magic.data(), kOpensshMagic.data(), magic.size()) != 0) {
        return Failure(SshKeyLoadStatus::BadFormat, "not an \"openssh-key-v1\" key");
    }
    if (!reader.ReadString(&cipherName) || !reader.ReadString(&kdfName) ||
        !reader.ReadString(&kdfOptions) || !reader.ReadUint32(&keyCount)) {
        return damaged();
    }
    if (keyCount != 1) {
        return Failure(SshKeyLoadStatus::Unsupported,
                       "the key file holds " + std::to_string(keyCount) + " keys (one is read)");
    }
    const OpensshCipher* cipher = FindOpensshCipher(cipherName);
    if (!cipher) {
        return Failure(SshKeyLoadStatus::Unsupported, "the key file is encrypted with \"" +
                                                          std::string(cipherName) +
                                                          "\", which this client does not read");
    }
    const bool plain = cipher->mode == CipherMode::None;
    if (plain ? kdfName != "none" || !kdfOptions.empty() : kdfName != "bcrypt") {
        if (plain || kdfName == "none") return damaged();
        return Failure(SshKeyLoadStatus::Unsupported,
                       "the key file's passphrase is turned into a key with \"" +
                           std::string(kdfName) + "\", which this client does not have");
    }
    if (!reader.ReadString(&publicBlob) || !reader.ReadString(&encrypted) || !reader.Finish() ||
        encrypted.empty() || encrypted.size() % cipher->blockLength != 0) {
        return damaged();
    }
    std::string_view publicType;
    SshReader publicReader(publicBlob);
    if (!publicReader.ReadString(&publicType)) return damaged();
    const OpensshKeyType* type = FindOpensshKeyType(publicType);
    if (!type) {
        return Failure(SshKeyLoadStatus::Unsupported, "the key file holds a \"" +
                                                          std::string(publicType) +
                                                          "\" key, which this client cannot use");
    }

    SecureBytes section(encrypted.begin(), encrypted.end());
    if (!plain) {
        SshKeyLoadResult failure;
        if (!DecryptPrivateSection(*cipher, kdfOptions, passphrase, &section, &failure))
            return failure;
    }
    SshReader privateReader(section);
    std::uint32_t check1, check2;
    if (!privateReader.ReadUint32(&check1) || !privateReader.ReadUint32(&check2)) return damaged();
    if (check1 != check2) {
        if (plain) return damaged();
        return Failure(SshKeyLoadStatus::WrongPassphrase,
                       "the passphrase does not open the key file");
    }
    std::string_view privateType;
    if (!privateReader.ReadString(&privateType)) return damaged();
    if (privateType != publicType) {
        return Failure(SshKeyLoadStatus::BadFormat,
                       "the key file's private key does not match its public key");
    }
    std::unique_ptr<SshSigner> signer = type->read(privateReader, origin);
    std::span<const std::uint8_t> comment;
    if (!signer || !privateReader.ReadString(&comment)) {
        return Failure(SshKeyLoadStatus::BadFormat,
                       "the key file's private key is damaged or does not match its public key");
    }
    // Padding: 1, 2, 3, ... up to less than one block.
    const std::size_t padding = privateReader.Remaining();
    std::span<const std::uint8_t> pad;
    if (padding >= cipher->blockLength || !privateReader.ReadBytes(padding, &pad)) return damaged();
    for (std::size_t i = 0; i < padding; ++i)
        if (pad[i] != static_cast<std::uint8_t>(i + 1)) return damaged();
    if (!SameBytes(signer->publicKeyBlob(), publicBlob)) {
        return Failure(SshKeyLoadStatus::BadFormat,
                       "the key file's private key does not match its public key");
    }
    return {SshKeyLoadStatus::Ok, std::move(signer), {}};
}

namespace {

using ArmorReader = SshKeyLoadResult (*)(const PemArmor& armor, std::string_view origin,
                                         std::span<const std::uint8_t> passphrase);

SshKeyLoadResult ReadOpensshArmor(const PemArmor& armor, std::string_view origin,
                                  std::span<const std::uint8_t> passphrase) {
    return LoadOpensshKey(armor.body, origin, passphrase);
}

struct ArmorFormat {
    std::string_view label;
    ArmorReader read;
};

constexpr ArmorFormat kArmorFormats[] = {
    {"OPENSSH PRIVATE KEY", ReadOpensshArmor},
    {"RSA PRIVATE KEY", LoadPkcs1RsaKey},
    {"PRIVATE KEY", LoadPkcs8Key},
    {"EC PRIVATE KEY", LoadSec1EcKey},
};

}  // namespace

SshKeyLoadResult LoadSshPrivateKey(std::string_view fileText, std::string_view origin,
                                   std::span<const std::uint8_t> passphrase) {
    if (fileText.size() > kSshKeyFileMaxBytes)
        return Failure(SshKeyLoadStatus::BadFormat, "the key file is larger than 64 KiB");
    PemArmor armor;
    std::string detail;
    if (!ReadPemArmor(fileText, &armor, &detail))
        return Failure(SshKeyLoadStatus::BadFormat, std::move(detail));
    for (const ArmorFormat& format : kArmorFormats)
        if (format.label == armor.label) return format.read(armor, origin, passphrase);
    return Failure(SshKeyLoadStatus::BadFormat,
                   "\"-----BEGIN " + armor.label + "-----\" is not a key format this client reads");
}

SshKeyLoadResult LoadSshPrivateKeyFile(const std::string& path,
                                       std::span<const std::uint8_t> passphrase) {
    platform::LocalFile file;
    const int error =
        file.Open(path, platform::FileAccess::Read, platform::FileDisposition::OpenExisting);
    if (error == platform::kFileErrorNotFound || error == platform::kFileErrorPathNotFound)
        return Failure(SshKeyLoadStatus::NotFound, "no key file \"" + path + "\"");
    if (error != 0)
        return Failure(SshKeyLoadStatus::Unreadable,
                       "the key file \"" + path + "\" cannot be read");
    // One byte more than the limit tells a file that is too large.
    SecureBytes text(kSshKeyFileMaxBytes + 1);
    std::size_t length = 0;
    while (length < text.size()) {
        const std::int64_t got = file.Read(text.data() + length, text.size() - length);
        if (got < 0)
            return Failure(SshKeyLoadStatus::Unreadable,
                           "the key file \"" + path + "\" cannot be read");
        if (got == 0) break;
        length += static_cast<std::size_t>(got);
    }
    if (length > kSshKeyFileMaxBytes)
        return Failure(SshKeyLoadStatus::Unreadable,
                       "the key file \"" + path + "\" is larger than 64 KiB");
    return LoadSshPrivateKey(std::string_view(reinterpret_cast<const char*>(text.data()), length),
                             path, passphrase);
}
