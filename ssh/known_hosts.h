// Host-key trust in OpenSSH's known_hosts format: parsing the lines, matching a
// host against their host fields (lists, wildcards, negation, hashed names),
// looking a key up over the user's file and the system file, and recording a new
// host. The check that applies the configured policy after the key exchange is
// VerifyHostKey; keys are compared as blobs, whatever their algorithm.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ssh/config.h"

// Lines longer than this are skipped as malformed; a file is read up to this many
// lines and bytes.
constexpr std::size_t kKnownHostsMaxLine = 16 * 1024;
constexpr std::size_t kKnownHostsMaxLines = 100000;
constexpr std::size_t kKnownHostsMaxBytes = 8 * 1024 * 1024;
constexpr char kSystemKnownHostsFile[] = "/etc/ssh/ssh_known_hosts";

enum class KnownHostMarker { None, Revoked, CertAuthority };

struct KnownHostEntry {
    KnownHostMarker marker = KnownHostMarker::None;
    std::string hosts;    // the host field as written
    std::string keyType;  // as written; the blob names the same type
    std::vector<std::uint8_t> blob;
};

enum class KnownHostsLineKind { Entry, Ignored, Malformed };

// One line without its line end. Ignored: blank or comment. Malformed: an unknown
// marker, a missing field, bad Base64, a blob of another type than the line says,
// or a line over the length cap.
KnownHostsLineKind ParseKnownHostsLine(std::string_view line, KnownHostEntry* entry);

// The name a host has in the file: "host" for port 22, "[host]:port" otherwise,
// in lower case.
std::string KnownHostName(std::string_view host, std::uint16_t port);

// Whether a host field names the host: a hashed name "|1|salt|hmac" (HMAC-SHA1
// keyed with the salt over the name), or a comma list of patterns with "*" and
// "?" (case-insensitive) where a matching "!pattern" excludes the line.
bool KnownHostFieldMatches(std::string_view field, std::string_view hostName);

enum class KnownHostResult {
    Unknown,                   // no entry of this key's type for the host
    Known,                     // an entry holds this key
    Changed,                   // an entry holds another key of the same type
    Revoked,                   // a @revoked entry holds this key
    CertificateAuthorityOnly,  // only @cert-authority entries name the host
};

struct KnownHostLookup {
    KnownHostResult result = KnownHostResult::Unknown;
    std::string file;  // the deciding entry (not for Unknown)
    std::size_t line = 0;
};

// One file's name and text.
struct KnownHostsSource {
    std::string file;
    std::string_view text;
};

// Revoked wins over everything, then Known, then Changed (the first such entry),
// then CertificateAuthorityOnly.
KnownHostLookup LookupKnownHost(std::span<const KnownHostsSource> sources,
                                std::string_view hostName, std::span<const std::uint8_t> blob);

// The key type a blob names (its first string), or "" when malformed.
std::string KeyTypeOfBlob(std::span<const std::uint8_t> blob);

// "name type base64\n", OpenSSH's plain form.
std::string KnownHostsLine(std::string_view hostName, std::span<const std::uint8_t> blob);

// Appends the plain line, creating the file's directory (0700) and the file (0600)
// when missing. 0 or the system error number.
int AppendKnownHost(const std::string& file, std::string_view hostName,
                    std::span<const std::uint8_t> blob);

// $HOME/.ssh/known_hosts, or "" without a home directory.
std::string DefaultKnownHostsFile();

// What the check found, as the control's HostKeyStatus shows it.
enum class SshHostKeyStatus : int {
    NotChecked = 0,
    Known = 1,
    Added = 2,
    Unknown = 3,  // refused (strict), or accepted but could not be recorded
    Changed = 4,
    Revoked = 5,
    NotVerifiable = 6,  // known only through a certificate authority, or SSH-1
};

struct SshHostKeyVerdict {
    SshHostKeyStatus status = SshHostKeyStatus::NotChecked;
    bool accepted = true;
    // For the user: what was found or done, or why the key was refused.
    std::string text;
};

// Applies the configured policy to the server's host key after the key exchange
// verified its signature: looks it up in the user's file and the system file and,
// under AcceptNew, records an unknown host in the user's file.
SshHostKeyVerdict VerifyHostKey(const SshConfig& config, std::span<const std::uint8_t> blob);

// The refusal text when a re-key brings another host key than the first exchange.
std::string HostKeyChangedOnRekeyText(const SshConfig& config, std::span<const std::uint8_t> blob);
