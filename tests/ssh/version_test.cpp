// Version exchange: reading the server's line, the protocol decision, the client's
// line, the workaround table and the wildcard matcher behind it.
#include <gtest/gtest.h>

#include <string>

#include "ssh/version.h"
#include "ssh/wildcard.h"

namespace {

struct ReadOutcome {
    SshVersionReader::Result result;
    std::size_t consumed;
};

ReadOutcome FeedAll(SshVersionReader& reader, std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto result = reader.Feed(static_cast<std::uint8_t>(bytes[i]));
        if (result != SshVersionReader::Result::NeedMore) return {result, i + 1};
    }
    return {SshVersionReader::Result::NeedMore, bytes.size()};
}

TEST(SshVersionReaderTest, SkipsBannerLinesAndStopsAfterTheVersionLine) {
    SshVersionReader reader;
    const std::string input =
        "Welcome\r\nSSH is not here\nXSSH-9.9-no\n\nSSH-2.0-OpenSSH_9.2p1 Debian\r\nBINARY";
    const ReadOutcome outcome = FeedAll(reader, input);
    EXPECT_EQ(outcome.result, SshVersionReader::Result::Complete);
    EXPECT_EQ(input.substr(outcome.consumed), "BINARY");
    EXPECT_EQ(reader.line(), "SSH-2.0-OpenSSH_9.2p1 Debian");
    EXPECT_EQ(reader.protocolVersion(), "2.0");
    EXPECT_EQ(reader.softwareVersion(), "OpenSSH_9.2p1 Debian");
}

TEST(SshVersionReaderTest, CutsAtTheFirstCarriageReturnAndKeepsNineProtocolCharacters) {
    SshVersionReader reader;
    ASSERT_EQ(FeedAll(reader, "SSH-1.99999999999-x\rjunk\n").result,
              SshVersionReader::Result::Complete);
    EXPECT_EQ(reader.line(), "SSH-1.99999999999-x");
    EXPECT_EQ(reader.protocolVersion(), "1.9999999");
    EXPECT_EQ(reader.softwareVersion(), "x");
}

TEST(SshVersionReaderTest, RefusesAnEndlessVersionLineOrPreamble) {
    const struct {
        std::string input;
        SshVersionReader::Result result;
    } rows[] = {
        {"SSH-2.0-" + std::string(5000, 'a'), SshVersionReader::Result::TooLong},
        {std::string(SshVersionReader::kMaxPreamble / 2, 'x') + "\n" +
             std::string(SshVersionReader::kMaxPreamble / 2, 'y'),
         SshVersionReader::Result::PreambleTooLong},
    };
    for (const auto& row : rows) {
        SshVersionReader reader;
        const ReadOutcome outcome = FeedAll(reader, row.input);
        EXPECT_EQ(outcome.result, row.result);
        EXPECT_LE(reader.line().size(), SshVersionReader::kMaxLineLength);
    }
}

struct ChoiceCase {
    SshProtocolChoice choice;
    const char* server;
    int expected;  // 0: the connection fails
};

// An SSH-2 server, an SSH-1.5 one and an SSH-1.5 one refused are scripted_transport_test's.
TEST(SshVersionTest, ProtocolChoiceTable) {
    const ChoiceCase cases[] = {
        {SshProtocolChoice::EitherPreferSsh2, "2.0", 2}, {SshProtocolChoice::Ssh2Only, "1.99", 2},
        {SshProtocolChoice::Ssh1Only, "1.99", 1},        {SshProtocolChoice::Ssh1Only, "1.5", 1},
        {SshProtocolChoice::Ssh1Only, "2.0", 0},
    };
    for (const ChoiceCase& c : cases) {
        const std::optional<int> chosen = ChooseSshProtocol(c.choice, c.server);
        EXPECT_EQ(chosen.value_or(0), c.expected)
            << "choice " << static_cast<int>(c.choice) << " server " << c.server;
    }
    // Versions compare major then minor, as numbers.
    EXPECT_LT(CompareSshVersions("1.5", "1.99"), 0);
    EXPECT_EQ(CompareSshVersions("2.0", "2.0"), 0);
    EXPECT_LT(CompareSshVersions("1.99", "2.0"), 0);
    EXPECT_GT(CompareSshVersions("1.10", "1.9"), 0);
    EXPECT_LT(CompareSshVersions("1", "1.5"), 0);
}

TEST(SshVersionTest, ClientLines) {
    EXPECT_EQ(SshClientVersionLine(2, "1.99"), "SSH-2.0-Tollane_7.2\r\n");
    EXPECT_EQ(SshClientVersionLine(1, "1.5"), "SSH-1.5-Tollane_7.2\n");
    EXPECT_EQ(SshClientVersionLine(1, "1.3"), "SSH-1.3-Tollane_7.2\n");
    EXPECT_EQ(SshClientVersionLine(1, "1.99"), "SSH-1.5-Tollane_7.2\n");
}

struct WorkaroundCase {
    const char* software;
    std::uint32_t mask;
};

TEST(SshWorkaroundTest, AutomaticSettingsFollowTheVersionTable) {
    SshConfig config;  // defaults: all automatic except the HMAC workaround
    // A row each side of the table's version boundaries, not every entry (OpenSSH_3.1p1
    // and Cisco-1.25 are scripted_transport_test's, through the connection).
    const WorkaroundCase cases[] = {
        {"OpenSSH_2.5.2p2", kBugSsh2RsaPadding | kBugSsh2Rekey},
        {"OpenSSH_2.1.1", kBugSsh2PublicKeySessionId | kBugSsh2Rekey},
        {"OpenSSH_3.3", 0},
        {"OSU_1.4alpha3", kBugSsh1Ignore | kBugSsh1PlainPassword},
        {"OSU_1.5alpha4", kBugSsh1Ignore},
        {"1.2.22", kBugSsh1Ignore},
        {"1.2.23", 0},
        {"2.0.0 SSH Secure Shell", kBugSsh2KeyDerivation},  // HMAC setting is off by default
        {"2.0.0 VShell", 0},
        {"Sun_SSH_1.0.1", kBugSsh2Rekey},
        {"Sun_SSH_1.0.2", 0},
    };
    for (const WorkaroundCase& c : cases) {
        EXPECT_EQ(ComputeSshWorkarounds(config, c.software).mask, c.mask) << c.software;
    }
}

// The HMAC workaround only where its setting allows; forced settings override the
// version; the small SFTP window is one server's alone.
TEST(SshWorkaroundTest, SettingsOverrideTheVersionTable) {
    SshConfig config;
    EXPECT_EQ(ComputeSshWorkarounds(config, "2.1.0").mask & kBugSsh2Hmac, 0u);
    EXPECT_TRUE(ComputeSshWorkarounds(config, "ROSSSH").smallSftpWindow);
    EXPECT_FALSE(ComputeSshWorkarounds(config, "ROSSSH 2").smallSftpWindow);
    EXPECT_EQ(ComputeSshWorkarounds(config, "ROSSSH").mask, 0u);
    config.workaround(SshWorkaround::Ssh2Hmac) = SshWorkaroundSetting::Automatic;
    EXPECT_NE(ComputeSshWorkarounds(config, "2.1.0").mask & kBugSsh2Hmac, 0u);
    EXPECT_NE(ComputeSshWorkarounds(config, "2.1 pl2").mask & kBugSsh2Hmac, 0u);
    EXPECT_EQ(ComputeSshWorkarounds(config, "2.1.0 VShell").mask & kBugSsh2Hmac, 0u);
    config.workaround(SshWorkaround::Ssh2Hmac) = SshWorkaroundSetting::AlwaysOn;
    config.workaround(SshWorkaround::Ssh2Rekey) = SshWorkaroundSetting::AlwaysOn;
    config.workaround(SshWorkaround::Ssh2RsaPadding) = SshWorkaroundSetting::AlwaysOff;
    EXPECT_EQ(ComputeSshWorkarounds(config, "OpenSSH_3.1p1").mask, kBugSsh2Hmac | kBugSsh2Rekey);
}

struct MatchCase {
    const char* pattern;
    const char* text;
    bool matches;
};

TEST(SshWildcardTest, MatchTable) {
    const MatchCase cases[] = {
        {"OpenSSH_2.[5-9]*", "OpenSSH_2.5.1", true},
        {"OpenSSH_2.[5-9]*", "OpenSSH_2.4.1", false},
        {"OpenSSH_2.[5-9]*", "OpenSSH_2.", false},
        {"* VShell", "2.1.0 VShell", true},
        {"* VShell", "VShell", false},
        {"2.1 *", "2.1 ", true},
        {"a**b", "ab", true},
        {"*a*b*c", "xxaxxbxxbxc", true},
        {"*a*b*c", "xxaxxbxxbx", false},
        {"?", "", false},
        {"?x", "yx", true},
        {"[^a-c]", "d", true},
        {"[^a-c]", "b", false},
        {"[ab-]", "-", true},
        {"\\*", "*", true},
        {"\\*", "a", false},
        {"[a", "a", false},  // an unterminated set matches nothing
        {"abc", "ABC", false},
        {"", "", true},
        {"*", "", true},
    };
    for (const MatchCase& c : cases) {
        EXPECT_EQ(SshWildcardMatch(c.pattern, c.text), c.matches)
            << "'" << c.pattern << "' vs '" << c.text << "'";
    }
}

TEST(SshWildcardTest, ManyStarsStayFast) {
    const std::string text(2000, 'a');
    EXPECT_FALSE(SshWildcardMatch("*a*a*a*a*a*a*a*a*b", text));
}

}  // namespace
