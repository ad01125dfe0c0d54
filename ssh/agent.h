// The ssh-agent client: the keys an agent holds and the signatures it makes, over
// its local socket (SSH_AUTH_SOCK). Each message is a uint32 length, a type byte
// and fields. Every answer is read through one bounded reader with the
// connection's time-out; an agent that is missing or misbehaves only means that
// its keys are not offered.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "net/net.h"
#include "ssh/signer.h"

enum SshAgentMessage : std::uint8_t {
    kSshAgentFailure = 5,
    kSshAgentcRequestIdentities = 11,
    kSshAgentIdentitiesAnswer = 12,
    kSshAgentcSignRequest = 13,
    kSshAgentSignResponse = 14,
};

// Flags of a sign request that ask an RSA key for a SHA-2 signature.
constexpr std::uint32_t kSshAgentRsaSha2_256 = 2;
constexpr std::uint32_t kSshAgentRsaSha2_512 = 4;

// Longest answer read from an agent, and most identities taken from one.
constexpr std::uint32_t kSshAgentMaxMessage = 256 * 1024;
constexpr std::uint32_t kSshAgentMaxIdentities = 256;

struct SshAgentIdentity {
    std::vector<std::uint8_t> blob;
    std::string keyType;  // the blob's first string
    std::string comment;
};

// An IDENTITIES_ANSWER (type byte and fields) to its identities; false when it is
// another message, malformed, has bytes left over or too many identities.
bool ParseSshAgentIdentities(std::span<const std::uint8_t> message,
                             std::vector<SshAgentIdentity>* identities);
// A SIGN_RESPONSE to its signature blob, checked to be of the algorithm asked for
// (an agent without the SHA-2 flags answers "ssh-rsa"). false otherwise.
bool ParseSshAgentSignature(std::span<const std::uint8_t> message, std::string_view algorithm,
                            std::vector<std::uint8_t>* signature);
// The sign request flags for a signature algorithm.
std::uint32_t SshAgentSignFlags(std::string_view algorithm);

class SshAgent {
  public:
    // Connects to the agent's socket; null when it cannot (the reason in *why).
    static std::shared_ptr<SshAgent> Connect(const std::string& path, int timeoutSeconds,
                                             std::string* why);
    // Over a socket connected elsewhere (tests use a socket pair); takes ownership.
    SshAgent(SOCKET socket, int timeoutSeconds);
    ~SshAgent();
    SshAgent(const SshAgent&) = delete;
    SshAgent& operator=(const SshAgent&) = delete;

    // The agent's keys; false when the agent did not answer properly (why()).
    bool RequestIdentities(std::vector<SshAgentIdentity>* identities);
    // The signature blob, or empty when the agent refused or failed (why()).
    std::vector<std::uint8_t> Sign(std::span<const std::uint8_t> keyBlob,
                                   std::string_view algorithm,
                                   std::span<const std::uint8_t> data);
    const std::string& why() const { return why_; }

    // Every key of the agent as a signer that keeps the agent connection.
    static std::vector<std::shared_ptr<SshSigner>> Keys(const std::shared_ptr<SshAgent>& agent);

  private:
    // Sends one request and reads one answer (type byte and fields).
    bool Exchange(std::span<const std::uint8_t> request, std::vector<std::uint8_t>* answer);
    bool Transfer(std::span<const std::uint8_t> request, std::vector<std::uint8_t>* answer);
    bool WaitFor(bool writing, std::uint64_t deadline);
    bool Failure(std::string why);

    SOCKET socket_;
    int timeoutSeconds_;
    bool netStarted_ = false;
    std::string why_;
};
