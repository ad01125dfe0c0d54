#include "ssh/algorithms.h"

#include <algorithm>

#include "crypto/random.h"
#include "crypto/sshbuf.h"
#include "ssh/messages.h"
#include "ssh/version.h"

namespace {

struct CompressionName {
    std::string_view name;
    SshCompression kind;
};
constexpr CompressionName kCompressionNames[] = {
    {"none", SshCompression::None},
    {"zlib", SshCompression::Zlib},
    {"zlib@openssh.com", SshCompression::Delayed},
};

SshCompression CompressionNamed(std::string_view name) {
    for (const CompressionName& row : kCompressionNames)
        if (row.name == name) return row.kind;
    return SshCompression::None;
}

std::string NameOf(SshCompression kind) {
    for (const CompressionName& row : kCompressionNames)
        if (row.kind == kind) return std::string(row.name);
    return {};
}

// In the order offered: the elliptic-curve exchanges, then Diffie-Hellman with
// SHA-2, then the classic SHA-1 methods. Within each part the configured group
// preference decides the order of the Diffie-Hellman methods.
const SshKexMethod kKexMethods[] = {
    {"curve25519-sha256", SshKexKind::Curve25519, &kHashSha256, {}},
    {"curve25519-sha256@libssh.org", SshKexKind::Curve25519, &kHashSha256, {}},
    {"ecdh-sha2-nistp256", SshKexKind::Ecdh, &kHashSha256, "nistp256"},
    {"ecdh-sha2-nistp384", SshKexKind::Ecdh, &kHashSha384, "nistp384"},
    {"ecdh-sha2-nistp521", SshKexKind::Ecdh, &kHashSha512, "nistp521"},
    {"diffie-hellman-group-exchange-sha256", SshKexKind::GroupExchange, &kHashSha256, {}},
    {"diffie-hellman-group16-sha512", SshKexKind::Group16, &kHashSha512, {}},
    {"diffie-hellman-group18-sha512", SshKexKind::Group18, &kHashSha512, {}},
    {"diffie-hellman-group14-sha256", SshKexKind::Group14, &kHashSha256, {}},
    {"diffie-hellman-group-exchange-sha1", SshKexKind::GroupExchange, &kHashSha1, {}},
    {"diffie-hellman-group14-sha1", SshKexKind::Group14, &kHashSha1, {}},
    {"diffie-hellman-group1-sha1", SshKexKind::Group1, &kHashSha1, {}},
};

// Which configured group preference entry a Diffie-Hellman kind belongs to.
struct KexGroupRow {
    SshKexKind kind;
    SshKexGroup group;
};
constexpr KexGroupRow kKexGroups[] = {
    {SshKexKind::GroupExchange, SshKexGroup::GroupExchange},
    {SshKexKind::Group16, SshKexGroup::Group14},
    {SshKexKind::Group18, SshKexGroup::Group14},
    {SshKexKind::Group14, SshKexGroup::Group14},
    {SshKexKind::Group1, SshKexGroup::Group1},
};

std::optional<SshKexGroup> GroupOf(SshKexKind kind) {
    for (const KexGroupRow& row : kKexGroups) {
        if (row.kind == kind) return row.group;
    }
    return std::nullopt;
}

// MACs offered ahead of the classic list: encrypt-then-MAC first.
struct SshMacRow {
    std::string_view name;
    const MacDescriptor* mac;
    bool etm;
};
const SshMacRow kModernMacs[] = {
    {"hmac-sha2-256-etm@openssh.com", &kMacHmacSha256, true},
    {"hmac-sha2-512-etm@openssh.com", &kMacHmacSha512, true},
    {"hmac-sha2-256", &kMacHmacSha256, false},
    {"hmac-sha2-512", &kMacHmacSha512, false},
};

struct CipherFamilyRow {
    SshCipherChoice choice;
    CipherFamily family;
};
constexpr CipherFamilyRow kCipherFamilies[] = {
    {SshCipherChoice::Aes, CipherFamily::Aes},
    {SshCipherChoice::Blowfish, CipherFamily::Blowfish},
    {SshCipherChoice::TripleDes, CipherFamily::TripleDes},
    {SshCipherChoice::Arcfour, CipherFamily::Arcfour},
    {SshCipherChoice::SingleDes, CipherFamily::SingleDes},
};

constexpr std::size_t kCookieLength = 16;
constexpr std::size_t kMaxNameListLength = 64 * 1024;

SshNameList SplitNameList(std::string_view text) {
    SshNameList names;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view name = text.substr(0, comma);
        if (!name.empty()) names.emplace_back(name);
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return names;
}

SshNameList KexNames(const SshConfig& config) {
    SshNameList names;
    for (const SshKexMethod& method : kKexMethods) {
        if (!GroupOf(method.kind)) names.emplace_back(method.name);
    }
    // The SHA-2 methods of every configured group, then the SHA-1 ones.
    for (const bool sha1 : {false, true}) {
        for (SshKexGroup group : config.kexPreference) {
            for (const SshKexMethod& method : kKexMethods) {
                if (GroupOf(method.kind) == group && (method.hash == &kHashSha1) == sha1)
                    names.emplace_back(method.name);
            }
        }
    }
    return names;
}

SshNameList CipherNames(const SshConfig& config) {
    SshNameList names;
    for (SshCipherChoice choice : config.cipherPreference) {
        if (choice == SshCipherChoice::SingleDes && !config.allowSingleDesInSsh2) continue;
        for (const CipherFamilyRow& row : kCipherFamilies) {
            if (row.choice != choice) continue;
            // The authenticated ciphers lead the AES entry: they are the modern choice.
            if (row.family == CipherFamily::Aes) {
                for (const AeadDescriptor* aead : AeadList())
                    names.emplace_back(aead->sshName);
            }
            for (const CipherDescriptor* cipher : CipherFamilyList(row.family))
                names.emplace_back(cipher->sshName);
        }
    }
    return names;
}

SshNameList MacNames(std::uint32_t workaroundMask) {
    SshNameList names;
    const bool bugHmac = (workaroundMask & kBugSsh2Hmac) != 0;
    if (!bugHmac) {
        for (const SshMacRow& row : kModernMacs)
            names.emplace_back(row.name);
    }
    for (const MacDescriptor* mac : bugHmac ? BugCompatibleMacList() : MacList()) {
        if (std::find(names.begin(), names.end(), mac->sshName) == names.end())
            names.emplace_back(mac->sshName);
    }
    return names;
}

// A MAC by its offered name; *etm tells the encrypt-then-MAC forms.
const MacDescriptor* FindSshMac(std::string_view name, bool bugHmac, bool* etm) {
    *etm = false;
    if (!bugHmac) {
        for (const SshMacRow& row : kModernMacs) {
            if (row.name != name) continue;
            *etm = row.etm;
            return row.mac;
        }
    }
    return FindMac(name, bugHmac);
}

SshNameList HostKeyNames() {
    SshNameList names;
    for (const PublicKeyAlgorithm* algorithm : PublicKeyAlgorithms())
        names.emplace_back(algorithm->sshName);
    return names;
}

std::string JoinNames(const SshNameList& names) {
    std::string text;
    for (const std::string& name : names) {
        if (!text.empty()) text.push_back(',');
        text += name;
    }
    return text;
}

bool Contains(const SshNameList& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The first client name that the server also lists.
const std::string* FirstCommon(const SshNameList& client, const SshNameList& server) {
    for (const std::string& name : client) {
        if (Contains(server, name)) return &name;
    }
    return nullptr;
}

std::size_t NBits(int csBits, int scBits, const HashDescriptor& hash) {
    const std::size_t cipherBits = static_cast<std::size_t>(std::max({csBits, scBits, 0}));
    return std::min(cipherBits, 8 * hash.digestLength);
}

}  // namespace

std::string JoinSshNames(const SshNameList& names) {
    SshNameList shown;
    for (const std::string& name : names) {
        if (!name.starts_with("ext-info-") && !name.starts_with("kex-strict-"))
            shown.push_back(name);
    }
    return JoinNames(shown);
}

std::span<const SshKexMethod> SshKexMethods() {
    return kKexMethods;
}

const SshKexMethod* FindSshKexMethod(std::string_view name) {
    for (const SshKexMethod& method : kKexMethods) {
        if (method.name == name) return &method;
    }
    return nullptr;
}

SshKexinit SshClientOffer(const SshConfig& config, std::uint32_t workaroundMask,
                          bool firstExchange) {
    SshKexinit offer;
    auto pick = [](const std::string& override, SshNameList defaults) {
        return override.empty() ? defaults : SplitNameList(override);
    };
    offer.lists[kListKex] = pick(config.kexOverride, KexNames(config));
    if (firstExchange) {
        offer.lists[kListKex].emplace_back(kSshExtInfoClient);
        offer.lists[kListKex].emplace_back(kSshStrictKexClient);
    }
    offer.lists[kListHostKey] = pick(config.hostKeyOverride, HostKeyNames());
    offer.lists[kListCipherCs] = pick(config.cipherOverride, CipherNames(config));
    offer.lists[kListCipherSc] = offer.lists[kListCipherCs];
    offer.lists[kListMacCs] = pick(config.macOverride, MacNames(workaroundMask));
    offer.lists[kListMacSc] = offer.lists[kListMacCs];
    offer.lists[kListCompressionCs] = config.compression
                                          ? SshNameList{"zlib@openssh.com", "zlib", "none"}
                                          : SshNameList{"none", "zlib@openssh.com", "zlib"};
    offer.lists[kListCompressionSc] = offer.lists[kListCompressionCs];
    return offer;
}

SecureBytes BuildSshKexinit(const SshKexinit& offer) {
    SshWriter writer;
    writer.PutByte(kSshMsgKexinit);
    std::uint8_t cookie[kCookieLength];
    RandomBytes(cookie);
    writer.PutBytes(cookie);
    for (const SshNameList& list : offer.lists)
        writer.PutString(JoinNames(list));
    writer.PutBool(offer.firstPacketFollows);
    writer.PutUint32(0);
    return writer.Take();
}

std::optional<SshKexinit> ParseSshKexinit(std::span<const std::uint8_t> message) {
    SshReader reader(message);
    std::uint8_t type = 0;
    std::span<const std::uint8_t> cookie;
    if (!reader.ReadByte(&type) || type != kSshMsgKexinit ||
        !reader.ReadBytes(kCookieLength, &cookie))
        return std::nullopt;
    SshKexinit result;
    for (SshNameList& list : result.lists) {
        std::string_view text;
        if (!reader.ReadString(&text) || text.size() > kMaxNameListLength) return std::nullopt;
        list = SplitNameList(text);
    }
    std::uint32_t reserved = 0;
    if (!reader.ReadBool(&result.firstPacketFollows) || !reader.ReadUint32(&reserved) ||
        !reader.Finish())
        return std::nullopt;
    return result;
}

std::optional<SshNegotiated> NegotiateSsh(const SshKexinit& client, const SshKexinit& server,
                                          std::uint32_t workaroundMask, std::size_t* failedList) {
    const std::string* chosen[kListLanguageCs] = {};
    auto fail = [failedList](std::size_t list) {
        if (failedList) *failedList = list;
        return std::nullopt;
    };
    for (std::size_t i = 0; i < kListLanguageCs; ++i) {
        chosen[i] = FirstCommon(client.lists[i], server.lists[i]);
    }
    const bool bugHmac = (workaroundMask & kBugSsh2Hmac) != 0;
    SshNegotiated result;
    result.kex = chosen[kListKex] ? FindSshKexMethod(*chosen[kListKex]) : nullptr;
    if (!result.kex) return fail(kListKex);
    result.hostKey = chosen[kListHostKey] ? FindPublicKeyAlgorithm(*chosen[kListHostKey]) : nullptr;
    if (!result.hostKey) return fail(kListHostKey);
    // Each direction: an authenticated cipher needs no MAC; any other cipher does.
    struct Direction {
        std::size_t cipherList, macList;
        const CipherDescriptor** cipher;
        const AeadDescriptor** aead;
        const MacDescriptor** mac;
        bool* etm;
    };
    const Direction directions[] = {
        {kListCipherCs, kListMacCs, &result.cipherCs, &result.aeadCs, &result.macCs, &result.etmCs},
        {kListCipherSc, kListMacSc, &result.cipherSc, &result.aeadSc, &result.macSc, &result.etmSc},
    };
    for (const Direction& d : directions) {
        if (!chosen[d.cipherList]) return fail(d.cipherList);
        *d.aead = FindAead(*chosen[d.cipherList]);
        if (*d.aead) continue;
        *d.cipher = FindCipher(*chosen[d.cipherList]);
        if (!*d.cipher) return fail(d.cipherList);
        *d.mac = chosen[d.macList] ? FindSshMac(*chosen[d.macList], bugHmac, d.etm) : nullptr;
        if (!*d.mac) return fail(d.macList);
    }
    for (std::size_t list : {kListCompressionCs, kListCompressionSc}) {
        if (!chosen[list]) return fail(list);
    }
    result.compressionCs = CompressionNamed(*chosen[kListCompressionCs]);
    result.compressionSc = CompressionNamed(*chosen[kListCompressionSc]);
    result.strictKex = Contains(client.lists[kListKex], kSshStrictKexClient) &&
                       Contains(server.lists[kListKex], kSshStrictKexServer);
    if (server.firstPacketFollows) {
        const SshNameList& kex = server.lists[kListKex];
        const SshNameList& hostKey = server.lists[kListHostKey];
        result.ignoreGuessedPacket = kex.empty() || hostKey.empty() ||
                                     kex.front() != result.kex->name ||
                                     hostKey.front() != result.hostKey->sshName;
    }
    return result;
}

SshNegotiatedNames NamesOf(const SshNegotiated& n) {
    auto name = [](const auto* row) { return row ? std::string(row->sshName) : std::string(); };
    auto cipher = [&](const AeadDescriptor* aead, const CipherDescriptor* plain) {
        return aead ? name(aead) : name(plain);
    };
    auto mac = [&](const MacDescriptor* row, bool etm) {
        return etm ? name(row) + "-etm@openssh.com" : name(row);
    };
    return {n.kex ? std::string(n.kex->name) : std::string(),
            name(n.hostKey),
            cipher(n.aeadCs, n.cipherCs),
            cipher(n.aeadSc, n.cipherSc),
            mac(n.macCs, n.etmCs),
            mac(n.macSc, n.etmSc),
            NameOf(n.compressionCs),
            NameOf(n.compressionSc)};
}

int SshCipherKeyBits(const SshNegotiated& n, bool clientToServer) {
    const AeadDescriptor* aead = clientToServer ? n.aeadCs : n.aeadSc;
    const CipherDescriptor* cipher = clientToServer ? n.cipherCs : n.cipherSc;
    return aead ? aead->keyBits : cipher ? cipher->keyBits : 0;
}

namespace {

std::uint32_t GroupBitsFor(std::size_t nbits) {
    nbits = std::max<std::size_t>(nbits, 1);
    return 512u << ((nbits - 1) / 64);
}

}  // namespace

std::uint32_t SshGroupExchangeBits(const CipherDescriptor& cs, const CipherDescriptor& sc,
                                   const HashDescriptor& hash) {
    return GroupBitsFor(NBits(cs.keyBits, sc.keyBits, hash));
}

std::uint32_t SshGroupExchangeBits(const SshNegotiated& n) {
    return GroupBitsFor(NBits(SshCipherKeyBits(n, true), SshCipherKeyBits(n, false), *n.kex->hash));
}

std::size_t SshExponentBits(const CipherDescriptor& cs, const CipherDescriptor& sc,
                            const HashDescriptor& hash) {
    return 2 * NBits(cs.keyBits, sc.keyBits, hash);
}

std::size_t SshExponentBits(const SshNegotiated& n) {
    return 2 * NBits(SshCipherKeyBits(n, true), SshCipherKeyBits(n, false), *n.kex->hash);
}
