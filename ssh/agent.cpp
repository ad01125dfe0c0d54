#include "ssh/agent.h"

#include <algorithm>

#include "crypto/sshbuf.h"
#include "net/socket_wait.h"
#include "net/trace.h"
#include "platform/system.h"
#include "resources/errors.h"
#include "ssh/transport.h"

namespace {

constexpr std::size_t kLengthField = 4;
constexpr int kWouldBlock = 10035;  // the socket runtime's error number

// A key held by the agent: signing asks the agent.
class SshAgentKey final : public SshSigner {
  public:
    SshAgentKey(std::shared_ptr<SshAgent> agent, SshAgentIdentity identity)
        : agent_(std::move(agent)), identity_(std::move(identity)) {
        origin_ =
            "agent key " + (identity_.comment.empty() ? identity_.keyType : identity_.comment);
    }
    std::string_view keyType() const override { return identity_.keyType; }
    std::span<const std::uint8_t> publicKeyBlob() const override { return identity_.blob; }
    std::string_view origin() const override { return origin_; }
    std::vector<std::uint8_t> Sign(std::string_view algorithm,
                                   std::span<const std::uint8_t> data) override {
        return agent_->Sign(identity_.blob, algorithm, data);
    }

  private:
    std::shared_ptr<SshAgent> agent_;
    SshAgentIdentity identity_;
    std::string origin_;
};

}  // namespace

bool ParseSshAgentIdentities(std::span<const std::uint8_t> message,
                             std::vector<SshAgentIdentity>* identities) {
    SshReader reader(message);
    std::uint8_t type = 0;
    std::uint32_t count = 0;
    if (!reader.ReadByte(&type) || type != kSshAgentIdentitiesAnswer) return false;
    if (!reader.ReadUint32(&count) || count > kSshAgentMaxIdentities) return false;
    std::vector<SshAgentIdentity> found;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::span<const std::uint8_t> blob;
        std::string_view comment, keyType;
        if (!reader.ReadString(&blob) || !reader.ReadString(&comment)) return false;
        SshReader blobReader(blob);
        if (!blobReader.ReadString(&keyType)) return false;
        found.push_back({{blob.begin(), blob.end()}, std::string(keyType), std::string(comment)});
    }
    if (!reader.Finish()) return false;
    *identities = std::move(found);
    return true;
}

bool ParseSshAgentSignature(std::span<const std::uint8_t> message, std::string_view algorithm,
                            std::vector<std::uint8_t>* signature) {
    SshReader reader(message);
    std::uint8_t type = 0;
    std::span<const std::uint8_t> blob;
    if (!reader.ReadByte(&type) || type != kSshAgentSignResponse) return false;
    if (!reader.ReadString(&blob) || !reader.Finish()) return false;
    SshReader blobReader(blob);
    std::string_view name;
    std::span<const std::uint8_t> bytes;
    if (!blobReader.ReadString(&name) || !blobReader.ReadString(&bytes) || !blobReader.Finish())
        return false;
    if (name != algorithm) return false;
    signature->assign(blob.begin(), blob.end());
    return true;
}

std::uint32_t SshAgentSignFlags(std::string_view algorithm) {
    if (algorithm == "rsa-sha2-256") return kSshAgentRsaSha2_256;
    if (algorithm == "rsa-sha2-512") return kSshAgentRsaSha2_512;
    return 0;
}

std::shared_ptr<SshAgent> SshAgent::Connect(const std::string& path, int timeoutSeconds,
                                            std::string* why) {
    if (path.empty()) {
        *why = "no agent socket";
        return nullptr;
    }
    if (NetStartup(nullptr) != 0) {
        *why = "no socket runtime";
        return nullptr;
    }
    const SOCKET socket = NetConnectLocal(path.c_str(), timeoutSeconds);
    const int error = NetGetLastError();
    NetCleanup();  // the agent takes its own start-up reference
    if (socket == INVALID_SOCKET) {
        *why = "cannot connect to " + path + " (error " + std::to_string(error) + ")";
        return nullptr;
    }
    return std::make_shared<SshAgent>(socket, timeoutSeconds);
}

SshAgent::SshAgent(SOCKET socket, int timeoutSeconds)
    : socket_(socket),
      timeoutSeconds_(timeoutSeconds > 0 ? timeoutSeconds : kSshDefaultTimeoutSeconds) {
    netStarted_ = NetStartup(nullptr) == 0;
    unsigned long nonBlocking = 1;
    NetIoctl(socket_, FIONBIO, &nonBlocking);
}

SshAgent::~SshAgent() {
    if (socket_ != INVALID_SOCKET) NetCloseSocket(socket_);
    if (netStarted_) NetCleanup();
}

bool SshAgent::Failure(std::string why) {
    why_ = std::move(why);
    NetTraceMessage(NET_TRACE_INFO, "ssh-agent: %s", why_.c_str());
    return false;
}

bool SshAgent::RequestIdentities(std::vector<SshAgentIdentity>* identities) {
    const std::uint8_t request[] = {kSshAgentcRequestIdentities};
    std::vector<std::uint8_t> answer;
    if (!Exchange(request, &answer)) return false;
    if (!ParseSshAgentIdentities(answer, identities))
        return Failure(answer.size() == 1 && answer[0] == kSshAgentFailure
                           ? "the agent refused to list its keys"
                           : "malformed identities answer");
    return true;
}

std::vector<std::uint8_t> SshAgent::Sign(std::span<const std::uint8_t> keyBlob,
                                         std::string_view algorithm,
                                         std::span<const std::uint8_t> data) {
    SshWriter writer;
    writer.PutByte(kSshAgentcSignRequest);
    writer.PutString(keyBlob);
    writer.PutString(data);
    writer.PutUint32(SshAgentSignFlags(algorithm));
    const SecureBytes request = writer.Take();
    std::vector<std::uint8_t> answer, signature;
    if (!Exchange(request, &answer)) return {};
    if (!ParseSshAgentSignature(answer, algorithm, &signature)) {
        Failure(!answer.empty() && answer[0] == kSshAgentFailure
                    ? "the agent refused to sign with " + std::string(algorithm)
                    : "malformed or mismatched signature answer");
        return {};
    }
    return signature;
}

// Waits until the socket can be read or written, or the deadline passes.
bool SshAgent::WaitFor(bool writing, std::uint64_t deadline) {
    const std::uint64_t now = GetTickCount64();
    if (now >= deadline) return Failure("the agent did not answer in time");
    const int error =
        NetWait(socket_, writing ? kNetWritable : kNetReadable, {NetDeadline::In(deadline - now)});
    if (error == fileErrorOperationTimeout) return Failure("the agent did not answer in time");
    if (error != 0) return Failure("wait failed (error " + std::to_string(error) + ")");
    return true;
}

bool SshAgent::Exchange(std::span<const std::uint8_t> request, std::vector<std::uint8_t>* answer) {
    if (socket_ == INVALID_SOCKET) return Failure("not connected");
    if (Transfer(request, answer)) return true;
    // Whatever part of an answer is still on its way would be read as the next.
    NetCloseSocket(socket_);
    socket_ = INVALID_SOCKET;
    return false;
}

bool SshAgent::Transfer(std::span<const std::uint8_t> request, std::vector<std::uint8_t>* answer) {
    const std::uint64_t deadline = GetTickCount64() + std::uint64_t(timeoutSeconds_) * 1000;
    SshWriter writer;
    writer.PutString(request);  // the length field, then the message
    const SecureBytes framed = writer.Take();
    for (std::size_t sent = 0; sent < framed.size();) {
        if (!WaitFor(true, deadline)) return false;
        const int count =
            NetSend(socket_, framed.data() + sent, static_cast<int>(framed.size() - sent), 0);
        if (count < 0 && NetGetLastError() == kWouldBlock) continue;
        if (count <= 0) return Failure("the agent connection broke while sending");
        sent += static_cast<std::size_t>(count);
    }
    // The length first, then exactly that many bytes: nothing is read past the
    // answer, and no answer larger than the cap is accepted.
    std::uint8_t prefix[kLengthField];
    std::vector<std::uint8_t> body;
    auto receive = [&](std::uint8_t* into, std::size_t size) {
        for (std::size_t got = 0; got < size;) {
            if (!WaitFor(false, deadline)) return false;
            const int count = NetRecv(socket_, into + got, static_cast<int>(size - got), 0);
            if (count < 0 && NetGetLastError() == kWouldBlock) continue;
            if (count <= 0) return Failure("the agent closed the connection or failed");
            got += static_cast<std::size_t>(count);
        }
        return true;
    };
    if (!receive(prefix, kLengthField)) return false;
    const std::uint32_t answerLength = LoadBe32(prefix);
    if (answerLength == 0 || answerLength > kSshAgentMaxMessage)
        return Failure("answer length " + std::to_string(answerLength) + " out of range");
    body.resize(answerLength);
    if (!receive(body.data(), body.size())) return false;
    *answer = std::move(body);
    return true;
}

std::vector<std::shared_ptr<SshSigner>> SshAgent::Keys(const std::shared_ptr<SshAgent>& agent) {
    std::vector<std::shared_ptr<SshSigner>> keys;
    std::vector<SshAgentIdentity> identities;
    if (!agent || !agent->RequestIdentities(&identities)) return keys;
    for (SshAgentIdentity& identity : identities)
        keys.push_back(std::make_shared<SshAgentKey>(agent, std::move(identity)));
    return keys;
}
