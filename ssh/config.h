// The configuration of one SSH connection, filled by the SFTP client before the
// connection starts and copied into it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/secret_string.h"
#include "ssh/signer.h"

// Which SSH protocol versions the caller accepts.
enum class SshProtocolChoice : int {
    Ssh1Only = 0,
    EitherPreferSsh2 = 2,
    Ssh2Only = 3,
};

// What is done with the server's host key before authentication.
enum class SshHostKeyPolicy : int {
    Off = 0,        // accept any key (the classic behaviour)
    AcceptNew = 1,  // record an unknown host, refuse a changed key
    Strict = 2,     // refuse an unknown host or a changed key
};

// A key-exchange preference entry.
enum class SshKexGroup : int {
    EndOfList = 0,
    GroupExchange,
    Group14,
    Group1,
};

// A cipher preference entry: the cipher families, plus the end-of-list marker.
enum class SshCipherChoice : int {
    EndOfList = 0,
    Aes,
    Blowfish,
    TripleDes,
    Arcfour,
    SingleDes,
};

// Each workaround setting: on whatever the server, off whatever the server, or on
// when the server's version text matches the workaround's patterns.
enum class SshWorkaroundSetting : int {
    AlwaysOn = 0,
    AlwaysOff = 1,
    Automatic = 2,
};

// The workarounds, in the order of SshConfig::workarounds.
enum class SshWorkaround : int {
    Ssh1Ignore = 0,
    Ssh1PlainPassword,
    Ssh1Rsa,
    Ssh2Hmac,
    Ssh2KeyDerivation,
    Ssh2RsaPadding,
    Ssh2PublicKeySessionId,
    Ssh2Rekey,
    SftpWindow,
    Count,
};
constexpr std::size_t kSshWorkaroundCount = static_cast<std::size_t>(SshWorkaround::Count);

// Limits of the configured texts (excluding the terminating NUL).
constexpr std::size_t kSshMaxHostLength = 511;
constexpr std::size_t kSshMaxUserLength = 99;
constexpr std::size_t kSshMaxPasswordLength = 99;

// The authorisation protocol the server's X clients are handed for a forwarded
// display: a 16-byte cookie they send as it is, or XDM-AUTHORIZATION-1, where they
// send it DES-encrypted with their address and clock, so that a copy sniffed off
// one connection cannot open another.
enum class SshX11Protocol { MitMagicCookie, XdmAuthorization };

struct SshConfig {
    std::string host;
    std::uint16_t port = 22;
    bool tcpKeepAlive = false;
    // Seconds; 0 means the default of kSshDefaultTimeoutSeconds (see transport.h).
    int timeoutSeconds = 0;
    std::array<SshKexGroup, 4> kexPreference{SshKexGroup::GroupExchange, SshKexGroup::Group14,
                                             SshKexGroup::Group1, SshKexGroup::EndOfList};
    std::array<SshCipherChoice, 6> cipherPreference{
        SshCipherChoice::Aes,     SshCipherChoice::Blowfish,  SshCipherChoice::TripleDes,
        SshCipherChoice::Arcfour, SshCipherChoice::SingleDes, SshCipherChoice::EndOfList};
    bool compression = false;
    int rekeyIntervalMinutes = 60;
    // An ignore message goes out after this many seconds without sending (0: never).
    int pingIntervalSeconds = 0;
    std::string rekeyDataLimit = "1G";
    SshProtocolChoice protocolChoice = SshProtocolChoice::EitherPreferSsh2;
    bool allowSingleDesInSsh2 = false;
    bool allowKeyboardInteractive = true;
    std::string userName;
    // Wiped by the connection once the login has succeeded or failed.
    SecretBytes password;
    // Public-key login: keys already loaded (tried after the agent's), and whether
    // the agent at agentSocket (empty: none) is asked for its keys first.
    std::vector<std::shared_ptr<SshSigner>> identities;
    bool useAgent = false;
    std::string agentSocket;
    std::string remoteCommand;
    bool remoteCommandIsSubsystem = false;
    std::string fallbackCommand;
    bool fallbackCommandIsSubsystem = false;
    bool noTerminal = true;
    // Left off and empty by the SFTP client: skip the "ssh-userauth" service
    // request, and environment variables sent as "env" requests (name, value).
    bool skipServiceRequest = false;
    std::vector<std::pair<std::string, std::string>> environment;
    std::array<SshWorkaroundSetting, kSshWorkaroundCount> workarounds{
        SshWorkaroundSetting::Automatic, SshWorkaroundSetting::Automatic,
        SshWorkaroundSetting::Automatic, SshWorkaroundSetting::AlwaysOff,
        SshWorkaroundSetting::Automatic, SshWorkaroundSetting::Automatic,
        SshWorkaroundSetting::Automatic, SshWorkaroundSetting::Automatic,
        SshWorkaroundSetting::Automatic};

    // Group exchange: true sends the old request (pbits alone, message 30), which
    // current OpenSSH servers refuse; false sends min/preferred/max (message 34).
    bool groupExchangeOldRequest = false;
    // Comma-separated name lists that replace the offered key-exchange, host-key,
    // cipher or MAC names when not empty. Left empty by the SFTP client; tests and
    // diagnostics use them to pin one algorithm.
    std::string kexOverride;
    std::string hostKeyOverride;
    std::string cipherOverride;
    std::string macOverride;

    // Forwarding, which only the SSH engine's own API turns on (the SFTP client
    // leaves it off): agent channels relayed to agentSocket; X11 asked for on the
    // session channel with fake authorisation data of x11FakeProtocol, its channels
    // relayed to the display's socket (x11Socket, e.g. /tmp/.X11-unix/X0) with the
    // real MIT-MAGIC-COOKIE-1 (x11Cookie; none when empty) in place of the fake data.
    bool forwardAgent = false;
    bool forwardX11 = false;
    SshX11Protocol x11FakeProtocol = SshX11Protocol::MitMagicCookie;
    std::string x11Socket;
    std::uint32_t x11Screen = 0;
    SecretBytes x11Cookie;

    // Host-key trust: the policy and the user's known_hosts file (empty means
    // $HOME/.ssh/known_hosts; /etc/ssh/ssh_known_hosts is read after it).
    SshHostKeyPolicy hostKeyPolicy = SshHostKeyPolicy::Off;
    std::string knownHostsFile;

    SshWorkaroundSetting& workaround(SshWorkaround which) {
        return workarounds[static_cast<std::size_t>(which)];
    }
};

// "1G", "512K", "1048576": a byte count with an optional K, M or G suffix (powers
// of 1024, either case). nullopt for anything else or an overflow.
std::optional<std::uint64_t> ParseSshDataLimit(std::string_view text);
