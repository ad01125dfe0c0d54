#include "ssh/algorithms.h"

#include <algorithm>

#include "crypto/random.h"
#include "crypto/sshbuf.h"
#include "ssh/messages.h"
#include "ssh/version.h"

namespace {

const SshKexMethod kKexMethods[] = {
    {"diffie-hellman-group-exchange-sha256", SshKexKind::GroupExchange, &kHashSha256},
    {"diffie-hellman-group-exchange-sha1", SshKexKind::GroupExchange, &kHashSha1},
    {"diffie-hellman-group14-sha1", SshKexKind::Group14, &kHashSha1},
    {"diffie-hellman-group1-sha1", SshKexKind::Group1, &kHashSha1},
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
    for (SshKexGroup group : config.kexPreference) {
        for (const SshKexMethod& method : kKexMethods) {
            const bool inGroup =
                (group == SshKexGroup::GroupExchange && method.kind == SshKexKind::GroupExchange) ||
                (group == SshKexGroup::Group14 && method.kind == SshKexKind::Group14) ||
                (group == SshKexGroup::Group1 && method.kind == SshKexKind::Group1);
            if (inGroup) names.emplace_back(method.name);
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
            for (const CipherDescriptor* cipher : CipherFamilyList(row.family))
                names.emplace_back(cipher->sshName);
        }
    }
    return names;
}

SshNameList MacNames(std::uint32_t workaroundMask) {
    SshNameList names;
    const auto list = (workaroundMask & kBugSsh2Hmac) ? BugCompatibleMacList() : MacList();
    for (const MacDescriptor* mac : list)
        names.emplace_back(mac->sshName);
    return names;
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

std::size_t NBits(const CipherDescriptor& cs, const CipherDescriptor& sc,
                  const HashDescriptor& hash) {
    const std::size_t cipherBits = static_cast<std::size_t>(std::max(cs.keyBits, sc.keyBits));
    return std::min(cipherBits, 8 * hash.digestLength);
}

}  // namespace

std::span<const SshKexMethod> SshKexMethods() {
    return kKexMethods;
}

const SshKexMethod* FindSshKexMethod(std::string_view name) {
    for (const SshKexMethod& method : kKexMethods) {
        if (method.name == name) return &method;
    }
    return nullptr;
}

SshKexinit SshClientOffer(const SshConfig& config, std::uint32_t workaroundMask) {
    SshKexinit offer;
    auto pick = [](const std::string& override, SshNameList defaults) {
        return override.empty() ? defaults : SplitNameList(override);
    };
    offer.lists[kListKex] = pick(config.kexOverride, KexNames(config));
    offer.lists[kListHostKey] = pick(config.hostKeyOverride, HostKeyNames());
    offer.lists[kListCipherCs] = pick(config.cipherOverride, CipherNames(config));
    offer.lists[kListCipherSc] = offer.lists[kListCipherCs];
    offer.lists[kListMacCs] = pick(config.macOverride, MacNames(workaroundMask));
    offer.lists[kListMacSc] = offer.lists[kListMacCs];
    offer.lists[kListCompressionCs] =
        config.compression ? SshNameList{"zlib", "none"} : SshNameList{"none", "zlib"};
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
    if (!reader.ReadBool(&result.firstPacketFollows) || !reader.ReadUint32(&reserved))
        return std::nullopt;
    return result;
}

std::optional<SshNegotiated> NegotiateSsh(const SshKexinit& client, const SshKexinit& server,
                                          std::uint32_t workaroundMask, std::size_t* failedList) {
    const std::string* chosen[kListLanguageCs] = {};
    for (std::size_t i = 0; i < kListLanguageCs; ++i) {
        chosen[i] = FirstCommon(client.lists[i], server.lists[i]);
        if (chosen[i] == nullptr) {
            if (failedList) *failedList = i;
            return std::nullopt;
        }
    }
    const bool bugHmac = (workaroundMask & kBugSsh2Hmac) != 0;
    SshNegotiated result;
    result.kex = FindSshKexMethod(*chosen[kListKex]);
    result.hostKey = FindPublicKeyAlgorithm(*chosen[kListHostKey]);
    result.cipherCs = FindCipher(*chosen[kListCipherCs]);
    result.cipherSc = FindCipher(*chosen[kListCipherSc]);
    result.macCs = FindMac(*chosen[kListMacCs], bugHmac);
    result.macSc = FindMac(*chosen[kListMacSc], bugHmac);
    result.compressionCs = *chosen[kListCompressionCs] == "zlib";
    result.compressionSc = *chosen[kListCompressionSc] == "zlib";
    // An override may name something this side cannot run.
    const void* required[] = {result.kex,      result.hostKey, result.cipherCs,
                              result.cipherSc, result.macCs,   result.macSc};
    for (std::size_t i = 0; i < std::size(required); ++i) {
        if (required[i] == nullptr) {
            if (failedList) *failedList = i;
            return std::nullopt;
        }
    }
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
    return {n.kex ? std::string(n.kex->name) : std::string(),
            name(n.hostKey),
            name(n.cipherCs),
            name(n.cipherSc),
            name(n.macCs),
            name(n.macSc)};
}

std::uint32_t SshGroupExchangeBits(const CipherDescriptor& cs, const CipherDescriptor& sc,
                                   const HashDescriptor& hash) {
    const std::size_t nbits = std::max<std::size_t>(NBits(cs, sc, hash), 1);
    return 512u << ((nbits - 1) / 64);
}

std::size_t SshExponentBits(const CipherDescriptor& cs, const CipherDescriptor& sc,
                            const HashDescriptor& hash) {
    return 2 * NBits(cs, sc, hash);
}
