// The version exchange: reading the server's version line, deciding the protocol,
// the client's own line, and the workarounds a server's version text calls for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ssh/config.h"

// The product version that goes into the client's version line.
constexpr int kSshProductMajor = 7;
constexpr int kSshProductMinor = 2;

// Workaround mask bits.
enum SshWorkaroundBits : std::uint32_t {
    kBugSsh1Ignore = 1,
    kBugSsh2Hmac = 2,
    kBugSsh1PlainPassword = 4,
    kBugSsh1Rsa = 8,
    kBugSsh2RsaPadding = 16,
    kBugSsh2KeyDerivation = 32,
    kBugSsh2Rekey = 64,
    kBugSsh2PublicKeySessionId = 128,
};

// Reads incoming bytes one at a time until a complete "SSH-" line; lines before
// it (banners) are skipped. The kept line and the skipped text are bounded.
class SshVersionReader {
  public:
    static constexpr std::size_t kMaxLineLength = 1024;
    static constexpr std::size_t kMaxProtocolLength = 9;
    static constexpr std::size_t kMaxPreamble = 64 * 1024;

    enum class Result { NeedMore, Complete, TooLong, PreambleTooLong };

    Result Feed(std::uint8_t byte);

    // The version line cut at its first CR or LF.
    const std::string& line() const { return line_; }
    // The text between "SSH-" and the next "-" (at most 9 characters).
    const std::string& protocolVersion() const { return protocol_; }
    // The text after the second "-".
    std::string_view softwareVersion() const;

  private:
    enum class State { LineStart, Prefix, SkipLine, Collect, Done };
    Result Collect(std::uint8_t byte);

    State state_ = State::LineStart;
    std::size_t prefixMatched_ = 0;
    std::size_t preamble_ = 0;  // bytes before the version line
    std::string line_;
    std::string protocol_;
    bool protocolDone_ = false;
};

// Compares two protocol versions as major then minor decimal numbers.
int CompareSshVersions(std::string_view a, std::string_view b);

// The protocol the client speaks with a server of this version (1 or 2), or
// nullopt when the caller's choice rules the server out.
std::optional<int> ChooseSshProtocol(SshProtocolChoice choice, std::string_view serverVersion);

// The client's version line with its line end ("\n" for SSH-1, "\r\n" for SSH-2).
std::string SshClientVersionLine(int protocol, std::string_view serverVersion);

struct SshWorkarounds {
    std::uint32_t mask = 0;
    bool smallSftpWindow = false;
};

// The workarounds for a server's software version under the configured settings.
SshWorkarounds ComputeSshWorkarounds(const SshConfig& config, std::string_view softwareVersion);
