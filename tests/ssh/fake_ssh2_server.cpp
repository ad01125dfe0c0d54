#include "fake_ssh2_server.h"

#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "crypto/dh.h"
#include "crypto/hash.h"
#include "ssh/algorithms.h"
#include "ssh/kex.h"
#include "ssh/messages.h"
#include "tests/crypto/pubkey_test_support.h"

namespace testssh {
namespace {

const std::string kServerVersion = "SSH-2.0-FakeServer_1.0";

// One RSA host key for every server of the test program: generating is slow.
struct HostKey {
    EvpKey key = GenerateRsa(2048);
    Bytes blob = RsaKeyBlob(key.get());
};

const HostKey& TheHostKey() {
    static const HostKey key;
    return key;
}

SshKexinit ServerOffer() {
    SshKexinit offer;
    offer.lists[kListKex] = {"diffie-hellman-group14-sha1"};
    offer.lists[kListHostKey] = {"ssh-rsa"};
    for (std::size_t i : {kListCipherCs, kListCipherSc})
        offer.lists[i] = {"aes128-cbc"};
    for (std::size_t i : {kListMacCs, kListMacSc})
        offer.lists[i] = {"hmac-sha1"};
    for (std::size_t i : {kListCompressionCs, kListCompressionSc})
        offer.lists[i] = {"none"};
    return offer;
}

SecureBytes Sha1(std::span<const std::uint8_t> data) {
    SecureBytes digest(20);
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha1(), nullptr);
    return digest;
}

std::unique_ptr<SshDirectionKeys> Keys(const CipherDescriptor* cipher, const MacDescriptor* mac,
                                       std::span<const std::uint8_t> secret,
                                       std::span<const std::uint8_t> h, const char letters[3]) {
    const SecureBytes iv =
        DeriveSshKey(kHashSha1, secret, h, letters[0], h, cipher->blockSize, false);
    const SecureBytes key =
        DeriveSshKey(kHashSha1, secret, h, letters[1], h, cipher->keyLength, false);
    const SecureBytes macKey =
        DeriveSshKey(kHashSha1, secret, h, letters[2], h, mac->keyLength, false);
    return std::make_unique<SshDirectionKeys>(cipher, key, iv, mac, macKey);
}

}  // namespace

FakeSsh2Server::FakeSsh2Server(Script script) {
    TheHostKey();
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_) != 0) {
        failure_ = "socketpair failed";
        return;
    }
    thread_ = std::thread([this, script = std::move(script)]() mutable { Run(std::move(script)); });
}

FakeSsh2Server::~FakeSsh2Server() {
    Finish();
    if (!clientTaken_ && fds_[0] >= 0) ::close(fds_[0]);
}

int FakeSsh2Server::TakeClientSocket() {
    clientTaken_ = true;
    return fds_[0];
}

SshConfig FakeSsh2Server::ClientConfig(int timeoutSeconds) {
    SshConfig config;
    config.host = "127.0.0.1";
    config.timeoutSeconds = timeoutSeconds;
    config.kexOverride = "diffie-hellman-group14-sha1";
    config.hostKeyOverride = "ssh-rsa";
    config.cipherOverride = "aes128-cbc";
    config.macOverride = "hmac-sha1";
    config.userName = "tester";
    config.password = "secret";
    config.remoteCommand = "sftp";
    config.remoteCommandIsSubsystem = true;
    config.fallbackCommand = "exec sftp-server";
    return config;
}

std::string FakeSsh2Server::Finish() {
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
}

std::vector<FakeSsh2Server::Received> FakeSsh2Server::received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

void FakeSsh2Server::Fail(std::string problem) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failure_.empty()) failure_ = std::move(problem);
}

void FakeSsh2Server::Run(Script script) {
    if (Handshake()) script(*this);
    ::shutdown(fds_[1], SHUT_RDWR);
    ::close(fds_[1]);
}

void FakeSsh2Server::WriteRaw(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fds_[1], bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            Fail("write failed");
            return;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
}

void FakeSsh2Server::Send(std::span<const std::uint8_t> payload) {
    SshPacket packet(payload[0]);
    packet.PutBytes(payload.subspan(1));
    WriteRaw(encoder_.Encode(std::move(packet)));
}

void FakeSsh2Server::Stall(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool FakeSsh2Server::ReadVersionLine(std::string* line) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fds_[1], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char c = 0;
        if (::read(fds_[1], &c, 1) != 1) return false;
        if (c == '\n') return true;
        if (c != '\r') line->push_back(c);
    }
    return false;
}

std::optional<SecureBytes> FakeSsh2Server::ReadPacket(int waitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (!pending_.empty()) {
            std::size_t used = 0;
            const SshPacketDecoder::Status status = decoder_.Feed(pending_, &used);
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
            wireSincePacket_ += used;
            if (status == SshPacketDecoder::Status::Rejected) {
                Fail("client packet rejected");
                return std::nullopt;
            }
            if (status == SshPacketDecoder::Status::Packet) {
                SecureBytes payload(decoder_.payload().begin(), decoder_.payload().end());
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    received_.push_back(
                        {payload.empty() ? std::uint8_t{0} : payload[0], wireSincePacket_});
                }
                wireSincePacket_ = 0;
                return payload;
            }
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd p{fds_[1], POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
        std::uint8_t buffer[16384];
        const ssize_t n = ::read(fds_[1], buffer, sizeof buffer);
        if (n <= 0) return std::nullopt;
        pending_.insert(pending_.end(), buffer, buffer + n);
    }
}

std::optional<SecureBytes> FakeSsh2Server::Receive(int waitMs) {
    for (;;) {
        std::optional<SecureBytes> packet = ReadPacket(waitMs);
        if (!packet || packet->empty() || (*packet)[0] != kSshMsgIgnore) return packet;
    }
}

std::optional<SecureBytes> FakeSsh2Server::ReceiveType(std::uint8_t type, int waitMs) {
    for (;;) {
        std::optional<SecureBytes> packet = Receive(waitMs);
        if (!packet || (!packet->empty() && (*packet)[0] == type)) return packet;
    }
}

bool FakeSsh2Server::Handshake() {
    WriteRaw(std::span(reinterpret_cast<const std::uint8_t*>((kServerVersion + "\r\n").data()),
                       kServerVersion.size() + 2));
    std::string clientVersion;
    if (!ReadVersionLine(&clientVersion)) {
        Fail("no client version line");
        return false;
    }
    const SshKexinit offer = ServerOffer();
    const SecureBytes serverKexinit = BuildSshKexinit(offer);
    Send(serverKexinit);
    const std::optional<SecureBytes> clientKexinit = ReadPacket(5000);
    std::optional<SshKexinit> clientOffer;
    if (clientKexinit) clientOffer = ParseSshKexinit(*clientKexinit);
    const std::optional<SshNegotiated> negotiated =
        clientOffer ? NegotiateSsh(*clientOffer, offer, 0) : std::nullopt;
    const std::optional<SecureBytes> init = ReadPacket(5000);
    BigNum e;
    if (!negotiated || !init || init->empty() || (*init)[0] != kSshMsgKexdhInit ||
        !SshReader(std::span(*init).subspan(1)).ReadMpint(&e)) {
        Fail("key exchange: no usable KEXINIT or KEXDH_INIT");
        return false;
    }
    std::unique_ptr<DhContext> dh = DhContext::Group14();
    const BigNum f = dh->MakeE(320);
    BigNum k;
    if (!dh->FindK(e, &k)) {
        Fail("key exchange: bad e");
        return false;
    }
    SshWriter secretWriter;
    secretWriter.PutMpint(k);
    const SecureBytes secret = secretWriter.Take();

    const HostKey& host = TheHostKey();
    SshWriter hashInput;
    hashInput.PutString(std::string_view(clientVersion));
    hashInput.PutString(std::string_view(kServerVersion));
    hashInput.PutString(std::span<const std::uint8_t>(*clientKexinit));
    hashInput.PutString(std::span<const std::uint8_t>(serverKexinit));
    hashInput.PutString(std::span<const std::uint8_t>(host.blob));
    hashInput.PutMpint(e);
    hashInput.PutMpint(f);
    hashInput.PutBytes(secret);
    const SecureBytes h = Sha1(hashInput.data());

    SshWriter signature;
    signature.PutString(std::string_view("ssh-rsa"));
    const Bytes rsa = SignSha1(host.key.get(), Bytes(h.begin(), h.end()));
    signature.PutString(std::span<const std::uint8_t>(rsa));
    SshWriter reply;
    reply.PutByte(kSshMsgKexdhReply);
    reply.PutString(std::span<const std::uint8_t>(host.blob));
    reply.PutMpint(f);
    reply.PutString(signature.data());
    Send(reply);
    const std::uint8_t newkeys[] = {kSshMsgNewkeys};
    Send(newkeys);
    encoder_.SetKeys(Keys(negotiated->cipherSc, negotiated->macSc, secret, h, "BDF"));
    const std::optional<SecureBytes> clientNewkeys = ReadPacket(5000);
    if (!clientNewkeys || clientNewkeys->size() != 1 || (*clientNewkeys)[0] != kSshMsgNewkeys) {
        Fail("key exchange: no NEWKEYS from the client");
        return false;
    }
    decoder_.SetKeys(Keys(negotiated->cipherCs, negotiated->macCs, secret, h, "ACE"));
    return true;
}

}  // namespace testssh
