#include "ssh/version.h"

#include <charconv>
#include <cstdio>
#include <initializer_list>

#include "ssh/wildcard.h"

namespace {

constexpr std::string_view kPrefix = "SSH-";
constexpr std::size_t kLineGrowth = 16;

}  // namespace

SshVersionReader::Result SshVersionReader::Feed(std::uint8_t byte) {
    if (state_ != State::Collect && state_ != State::Done && ++preamble_ > kMaxPreamble)
        return Result::PreambleTooLong;
    switch (state_) {
        case State::LineStart:
        case State::Prefix:
            if (byte == static_cast<std::uint8_t>(kPrefix[prefixMatched_])) {
                if (++prefixMatched_ == kPrefix.size()) {
                    line_.assign(kPrefix);
                    state_ = State::Collect;
                } else {
                    state_ = State::Prefix;
                }
                return Result::NeedMore;
            }
            prefixMatched_ = 0;
            state_ = byte == '\n' ? State::LineStart : State::SkipLine;
            return Result::NeedMore;
        case State::SkipLine:
            if (byte == '\n') state_ = State::LineStart;
            return Result::NeedMore;
        case State::Collect:
            return Collect(byte);
        case State::Done:
            break;
    }
    return Result::Complete;
}

SshVersionReader::Result SshVersionReader::Collect(std::uint8_t byte) {
    if (byte == '\n') {
        const std::size_t end = line_.find_first_of("\r\n");
        if (end != std::string::npos) line_.resize(end);
        state_ = State::Done;
        return Result::Complete;
    }
    if (line_.size() >= kMaxLineLength) return Result::TooLong;
    if (line_.size() == line_.capacity()) line_.reserve(line_.size() + kLineGrowth);
    line_.push_back(static_cast<char>(byte));
    if (!protocolDone_) {
        if (byte == '-')
            protocolDone_ = true;
        else if (protocol_.size() < kMaxProtocolLength)
            protocol_.push_back(static_cast<char>(byte));
    }
    return Result::NeedMore;
}

std::string_view SshVersionReader::softwareVersion() const {
    std::string_view rest(line_);
    rest.remove_prefix(kPrefix.size());
    const std::size_t dash = rest.find('-');
    if (dash == std::string_view::npos) return {};
    return rest.substr(dash + 1);
}

namespace {

// Leading decimal digits as a number (0 when there are none).
long LeadingNumber(std::string_view text) {
    long value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::pair<long, long> SplitVersion(std::string_view version) {
    const std::size_t dot = version.find('.');
    if (dot == std::string_view::npos) return {LeadingNumber(version), 0};
    return {LeadingNumber(version.substr(0, dot)), LeadingNumber(version.substr(dot + 1))};
}

bool CanSpeakSsh2(std::string_view version) {
    return CompareSshVersions(version, "1.99") >= 0;
}
bool CanSpeakSsh1(std::string_view version) {
    return CompareSshVersions(version, "2.0") < 0;
}

}  // namespace

int CompareSshVersions(std::string_view a, std::string_view b) {
    const auto [aMajor, aMinor] = SplitVersion(a);
    const auto [bMajor, bMinor] = SplitVersion(b);
    if (aMajor != bMajor) return aMajor < bMajor ? -1 : 1;
    if (aMinor != bMinor) return aMinor < bMinor ? -1 : 1;
    return 0;
}

std::optional<int> ChooseSshProtocol(SshProtocolChoice choice, std::string_view serverVersion) {
    const bool ssh1 = CanSpeakSsh1(serverVersion);
    const bool ssh2 = CanSpeakSsh2(serverVersion);
    if (choice == SshProtocolChoice::Ssh1Only && !ssh1) return std::nullopt;
    if (choice == SshProtocolChoice::Ssh2Only && !ssh2) return std::nullopt;
    if (!ssh2 || (choice == SshProtocolChoice::Ssh1Only && ssh1)) return 1;
    return 2;
}

std::string SshClientVersionLine(int protocol, std::string_view serverVersion) {
    char line[64];
    if (protocol == 1) {
        const std::string version =
            CompareSshVersions(serverVersion, "1.5") <= 0 ? std::string(serverVersion) : "1.5";
        std::snprintf(line, sizeof line, "SSH-%s-Tollane_%d.%d\n", version.c_str(),
                      kSshProductMajor, kSshProductMinor);
    } else {
        std::snprintf(line, sizeof line, "SSH-2.0-Tollane_%d.%d\r\n", kSshProductMajor,
                      kSshProductMinor);
    }
    std::string text(line);
    // The software part after the protocol's "-" may hold no further "-" or blank.
    const std::size_t software = text.find('-', kPrefix.size());
    for (std::size_t i = software + 1; i < text.size(); ++i) {
        if (text[i] == '-' || text[i] == ' ') text[i] = '_';
    }
    return text;
}

namespace {

enum class MatchKind { Equals, Matches };

struct WorkaroundRule {
    SshWorkaround setting;
    std::uint32_t bit;
    MatchKind kind;
    bool exceptVShell;
    std::initializer_list<std::string_view> patterns;
};

const WorkaroundRule kWorkaroundRules[] = {
    {SshWorkaround::Ssh1Ignore,
     kBugSsh1Ignore,
     MatchKind::Equals,
     false,
     {"1.2.18", "1.2.19", "1.2.20", "1.2.21", "1.2.22", "Cisco-1.25", "OSU_1.4alpha3",
      "OSU_1.5alpha4"}},
    {SshWorkaround::Ssh1PlainPassword,
     kBugSsh1PlainPassword,
     MatchKind::Equals,
     false,
     {"Cisco-1.25", "OSU_1.4alpha3"}},
    {SshWorkaround::Ssh1Rsa, kBugSsh1Rsa, MatchKind::Equals, false, {"Cisco-1.25"}},
    {SshWorkaround::Ssh2Hmac,
     kBugSsh2Hmac,
     MatchKind::Matches,
     true,
     {"2.1.0*", "2.0.*", "2.2.0*", "2.3.0*", "2.1 *"}},
    {SshWorkaround::Ssh2KeyDerivation,
     kBugSsh2KeyDerivation,
     MatchKind::Matches,
     true,
     {"2.0.0*", "2.0.10*"}},
    {SshWorkaround::Ssh2RsaPadding,
     kBugSsh2RsaPadding,
     MatchKind::Matches,
     false,
     {"OpenSSH_2.[5-9]*", "OpenSSH_3.[0-2]*"}},
    {SshWorkaround::Ssh2PublicKeySessionId,
     kBugSsh2PublicKeySessionId,
     MatchKind::Matches,
     false,
     {"OpenSSH_2.[0-2]*"}},
    {SshWorkaround::Ssh2Rekey,
     kBugSsh2Rekey,
     MatchKind::Matches,
     false,
     {"DigiSSH_2.0", "OpenSSH_2.[0-4]*", "OpenSSH_2.5.[0-3]*", "Sun_SSH_1.0", "Sun_SSH_1.0.1",
      "WeOnlyDo-*"}},
    {SshWorkaround::SftpWindow, 0, MatchKind::Equals, false, {"ROSSSH"}},
};

bool RuleApplies(const WorkaroundRule& rule, std::string_view software) {
    if (rule.exceptVShell && SshWildcardMatch("* VShell", software)) return false;
    for (std::string_view pattern : rule.patterns) {
        const bool hit = rule.kind == MatchKind::Equals ? software == pattern
                                                        : SshWildcardMatch(pattern, software);
        if (hit) return true;
    }
    return false;
}

}  // namespace

SshWorkarounds ComputeSshWorkarounds(const SshConfig& config, std::string_view softwareVersion) {
    SshWorkarounds result;
    for (const WorkaroundRule& rule : kWorkaroundRules) {
        const SshWorkaroundSetting setting =
            config.workarounds[static_cast<std::size_t>(rule.setting)];
        const bool on =
            setting == SshWorkaroundSetting::AlwaysOn ||
            (setting == SshWorkaroundSetting::Automatic && RuleApplies(rule, softwareVersion));
        if (!on) continue;
        if (rule.setting == SshWorkaround::SftpWindow)
            result.smallSftpWindow = true;
        else
            result.mask |= rule.bit;
    }
    return result;
}
