#include "ssh/known_hosts.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "crypto/base64.h"
#include "crypto/hash.h"
#include "crypto/hmac.h"
#include "crypto/pubkey.h"
#include "crypto/sha1.h"
#include "crypto/sshbuf.h"
#include "platform/file.h"
#include "ssh/wildcard.h"

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kHashedPrefix = "|1|";

struct MarkerName {
    std::string_view word;
    KnownHostMarker marker;
};

constexpr MarkerName kMarkers[] = {
    {"@revoked", KnownHostMarker::Revoked},
    {"@cert-authority", KnownHostMarker::CertAuthority},
};

// The next blank-separated field; empty at the end of the line.
std::string_view NextField(std::string_view* rest) {
    const std::size_t start = rest->find_first_not_of(kBlanks);
    if (start == std::string_view::npos) {
        *rest = {};
        return {};
    }
    std::string_view text = rest->substr(start);
    const std::size_t end = std::min(text.find_first_of(kBlanks), text.size());
    *rest = text.substr(end);
    return text.substr(0, end);
}

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool HashedNameMatches(std::string_view field, std::string_view hostName) {
    field.remove_prefix(kHashedPrefix.size());
    const std::size_t bar = field.find('|');
    if (bar == std::string_view::npos) return false;
    const auto salt = Base64Decode(field.substr(0, bar));
    const auto mac = Base64Decode(field.substr(bar + 1));
    if (!salt || !mac || salt->size() != kSha1DigestLength || mac->size() != kSha1DigestLength)
        return false;
    std::uint8_t expected[kSha1DigestLength];
    Hmac(kHashSha1, salt->data(), salt->size(), hostName.data(), hostName.size(), expected);
    return std::equal(mac->begin(), mac->end(), expected);
}

std::string ReadCapped(const std::string& path) {
    std::string text;
    platform::LocalFile file;
    if (path.empty() ||
        file.Open(path, platform::FileAccess::Read, platform::FileDisposition::OpenExisting) != 0)
        return text;
    char buffer[16384];
    while (text.size() < kKnownHostsMaxBytes) {
        const std::int64_t got =
            file.Read(buffer, std::min(sizeof buffer, kKnownHostsMaxBytes - text.size()));
        if (got <= 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

bool SameBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

// "ssh-ed25519 SHA256:..." of a blob.
std::string KeyDescription(std::span<const std::uint8_t> blob) {
    return KeyTypeOfBlob(blob) + " " + PublicKeySha256Fingerprint(blob);
}

std::string Where(const KnownHostLookup& lookup) {
    return lookup.file + ":" + std::to_string(lookup.line);
}

}  // namespace

KnownHostsLineKind ParseKnownHostsLine(std::string_view line, KnownHostEntry* entry) {
    if (line.size() > kKnownHostsMaxLine) return KnownHostsLineKind::Malformed;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string_view rest = line;
    std::string_view field = NextField(&rest);
    if (field.empty() || field.front() == '#') return KnownHostsLineKind::Ignored;
    *entry = KnownHostEntry{};
    if (field.front() == '@') {
        const auto* found = std::find_if(std::begin(kMarkers), std::end(kMarkers),
                                         [field](const MarkerName& m) { return m.word == field; });
        if (found == std::end(kMarkers)) return KnownHostsLineKind::Malformed;
        entry->marker = found->marker;
        field = NextField(&rest);
    }
    const std::string_view hosts = field;
    const std::string_view type = NextField(&rest);
    const std::string_view base64 = NextField(&rest);
    if (hosts.empty() || type.empty() || base64.empty()) return KnownHostsLineKind::Malformed;
    auto blob = Base64Decode(base64);
    if (!blob || KeyTypeOfBlob(*blob) != type) return KnownHostsLineKind::Malformed;
    entry->hosts = hosts;
    entry->keyType = type;
    entry->blob = std::move(*blob);
    return KnownHostsLineKind::Entry;
}

std::string KnownHostName(std::string_view host, std::uint16_t port) {
    std::string name;
    for (const char c : host)
        name += Lower(c);
    return port == 22 ? name : "[" + name + "]:" + std::to_string(port);
}

bool KnownHostFieldMatches(std::string_view field, std::string_view hostName) {
    if (field.starts_with(kHashedPrefix)) return HashedNameMatches(field, hostName);
    bool matched = false;
    while (!field.empty()) {
        const std::size_t comma = std::min(field.find(','), field.size());
        std::string_view pattern = field.substr(0, comma);
        field.remove_prefix(std::min(comma + 1, field.size()));
        const bool negated = pattern.starts_with('!');
        if (negated) pattern.remove_prefix(1);
        if (pattern.empty() || !SshHostPatternMatch(pattern, hostName)) continue;
        if (negated) return false;
        matched = true;
    }
    return matched;
}

KnownHostLookup LookupKnownHost(std::span<const KnownHostsSource> sources,
                                std::string_view hostName, std::span<const std::uint8_t> blob) {
    const std::string type = KeyTypeOfBlob(blob);
    std::optional<KnownHostLookup> known, changed, authority;
    for (const KnownHostsSource& source : sources) {
        std::string_view text = source.text;
        for (std::size_t number = 1; !text.empty() && number <= kKnownHostsMaxLines; ++number) {
            const std::size_t end = std::min(text.find('\n'), text.size());
            const std::string_view line = text.substr(0, end);
            text.remove_prefix(std::min(end + 1, text.size()));
            KnownHostEntry entry;
            if (ParseKnownHostsLine(line, &entry) != KnownHostsLineKind::Entry ||
                !KnownHostFieldMatches(entry.hosts, hostName))
                continue;
            const KnownHostLookup here{KnownHostResult::Unknown, source.file, number};
            const bool same = SameBytes(entry.blob, blob);
            switch (entry.marker) {
                case KnownHostMarker::Revoked:
                    if (same) return {KnownHostResult::Revoked, source.file, number};
                    break;
                case KnownHostMarker::CertAuthority:
                    if (!authority) authority = here;
                    break;
                case KnownHostMarker::None:
                    if (same && !known) known = here;
                    if (!same && entry.keyType == type && !changed) changed = here;
                    break;
            }
        }
    }
    KnownHostLookup result;
    if (known)
        result = *known, result.result = KnownHostResult::Known;
    else if (changed)
        result = *changed, result.result = KnownHostResult::Changed;
    else if (authority)
        result = *authority, result.result = KnownHostResult::CertificateAuthorityOnly;
    return result;
}

std::string KeyTypeOfBlob(std::span<const std::uint8_t> blob) {
    SshReader reader(blob);
    std::string_view name;
    return reader.ReadString(&name) ? std::string(name) : std::string();
}

std::string KnownHostsLine(std::string_view hostName, std::span<const std::uint8_t> blob) {
    return std::string(hostName) + " " + KeyTypeOfBlob(blob) + " " + Base64Encode(blob) + "\n";
}

int AppendKnownHost(const std::string& file, std::string_view hostName,
                    std::span<const std::uint8_t> blob) {
    std::string text = KnownHostsLine(hostName, blob);
    platform::LocalFile existing;
    if (existing.Open(file, platform::FileAccess::Read, platform::FileDisposition::OpenExisting) ==
        0) {
        // A last line without its line end would otherwise swallow the new entry.
        const std::int64_t size = existing.Size();
        char last = '\n';
        if (size > 0 && existing.Seek(static_cast<std::uint64_t>(size - 1)) &&
            existing.Read(&last, 1) == 1 && last != '\n')
            text.insert(text.begin(), '\n');
        existing.Close();
    } else if (const std::size_t slash = file.rfind('/'); slash != std::string::npos && slash > 0) {
        if (const int error = platform::CreatePrivateDirectory(file.substr(0, slash)); error != 0)
            return error;
    }
    return platform::AppendToPrivateFile(file, text);
}

std::string DefaultKnownHostsFile() {
    const std::string home = platform::HomeDirectory();
    return home.empty() ? std::string() : home + "/.ssh/known_hosts";
}

SshHostKeyVerdict VerifyHostKey(const SshConfig& config, std::span<const std::uint8_t> blob) {
    if (config.hostKeyPolicy == SshHostKeyPolicy::Off) return {};
    const std::string name = KnownHostName(config.host, config.port);
    const std::string key = KeyDescription(blob);
    const std::string userFile =
        config.knownHostsFile.empty() ? DefaultKnownHostsFile() : config.knownHostsFile;
    const std::string userText = ReadCapped(userFile);
    const std::string systemText = ReadCapped(kSystemKnownHostsFile);
    const KnownHostsSource sources[] = {{userFile, userText}, {kSystemKnownHostsFile, systemText}};
    const KnownHostLookup lookup = LookupKnownHost(sources, name, blob);
    const std::string refused = "Host key verification failed for " + name + " (" + key + "): ";
    switch (lookup.result) {
        case KnownHostResult::Known:
            return {SshHostKeyStatus::Known, true,
                    "host key for " + name + " (" + key + ") found at " + Where(lookup)};
        case KnownHostResult::Revoked:
            return {SshHostKeyStatus::Revoked, false,
                    refused + "the key is revoked at " + Where(lookup)};
        case KnownHostResult::Changed:
            return {SshHostKeyStatus::Changed, false,
                    refused + "the host key has changed; the old key is at " + Where(lookup)};
        case KnownHostResult::CertificateAuthorityOnly:
            return {SshHostKeyStatus::NotVerifiable, false,
                    refused + "the host is known only through a certificate authority (" +
                        Where(lookup) + ") and host certificates are not supported"};
        case KnownHostResult::Unknown:
            break;
    }
    if (config.hostKeyPolicy == SshHostKeyPolicy::Strict)
        return {SshHostKeyStatus::Unknown, false,
                refused + "no host key is known for it in " + userFile + " or " +
                    kSystemKnownHostsFile};
    if (const int error = userFile.empty() ? platform::kFileErrorPathNotFound
                                           : AppendKnownHost(userFile, name, blob);
        error != 0)
        return {SshHostKeyStatus::Unknown, true,
                "could not record host key for " + name + " (" + key + ") in " + userFile +
                    " (system error " + std::to_string(error) + ")"};
    return {SshHostKeyStatus::Added, true, "added host key for " + name + " (" + key + ")"};
}

std::string HostKeyChangedOnRekeyText(const SshConfig& config, std::span<const std::uint8_t> blob) {
    return "Host key verification failed for " + KnownHostName(config.host, config.port) + " (" +
           KeyDescription(blob) + "): a re-key brought another host key than the first exchange";
}
