#include "ssh/kex.h"

#include <algorithm>

#include "crypto/pubkey.h"
#include "crypto/sshbuf.h"
#include "resources/errors.h"
#include "ssh/known_hosts.h"
#include "ssh/messages.h"
#include "ssh/version.h"

namespace {

// Group sizes offered with the newer group-exchange request.
constexpr std::uint32_t kGexMinBits = 1024;
constexpr std::uint32_t kGexMaxBits = 8192;

const char* const kListNames[] = {"key-exchange", "host-key", "cipher",      "cipher",
                                  "MAC",          "MAC",      "compression", "compression"};

SshKexFailure Malformed(const char* what) {
    return {fileErrorInvalidServerResponse, kSshDisconnectProtocolError,
            std::string("Malformed ") + what + " message"};
}

SshKexFailure Refused(std::string text) {
    return {fileErrorSecurityContext, kSshDisconnectKeyExchangeFailed, std::move(text)};
}

SecureBytes MpintBytes(const BigNum& value) {
    SshWriter writer;
    writer.PutMpint(value);
    return writer.Take();
}

SecureBytes HashOf(const HashDescriptor& hash,
                   std::span<const std::span<const std::uint8_t>> parts) {
    void* context = hash.create();
    for (const auto& part : parts)
        hash.add(context, part.data(), part.size());
    SecureBytes digest(hash.digestLength);
    hash.finish(context, digest.data());
    return digest;
}

}  // namespace

SecureBytes DeriveSshKey(const HashDescriptor& hash, std::span<const std::uint8_t> secretMpint,
                         std::span<const std::uint8_t> exchangeHash, char letter,
                         std::span<const std::uint8_t> sessionId, std::size_t length,
                         bool omitSecret) {
    const std::span<const std::uint8_t> secret =
        omitSecret ? std::span<const std::uint8_t>() : secretMpint;
    const std::uint8_t letterByte = static_cast<std::uint8_t>(letter);
    const std::span<const std::uint8_t> first[] = {
        secret, exchangeHash, {&letterByte, 1}, sessionId};
    SecureBytes material = HashOf(hash, first);
    const std::size_t wanted = std::max(length, 2 * hash.digestLength);
    while (material.size() < wanted) {
        const std::span<const std::uint8_t> next[] = {secret, exchangeHash, material};
        const SecureBytes more = HashOf(hash, next);
        material.insert(material.end(), more.begin(), more.end());
    }
    return material;
}

SshKeyExchange::SshKeyExchange(const SshConfig& config, SshKexHost& host)
    : config_(config), host_(host) {}

SshKeyExchange::~SshKeyExchange() = default;

void SshKeyExchange::SetVersions(std::string clientLine, std::string serverLine,
                                 std::uint32_t workaroundMask) {
    clientLine_ = std::move(clientLine);
    serverLine_ = std::move(serverLine);
    workarounds_ = workaroundMask;
}

void SshKeyExchange::SetState(SshKexState state) {
    state_ = state;
}

void SshKeyExchange::Start() {
    offer_ = SshClientOffer(config_, workarounds_);
    clientKexinit_ = BuildSshKexinit(offer_);
    SshPacket packet(kSshMsgKexinit);
    packet.PutBytes(std::span(clientKexinit_).subspan(1));
    host_.SendKexPacket(std::move(packet));
    SetState(SshKexState::AwaitKexinit);
}

std::optional<SshKexFailure> SshKeyExchange::Handle(std::span<const std::uint8_t> message) {
    const std::uint8_t type = message.empty() ? 0 : message[0];
    if (type == kSshMsgKexinit) return OnKexinit(message);
    if (ignoreNext_) {
        ignoreNext_ = false;
        return std::nullopt;
    }
    const bool groupExchange = negotiated_ && negotiated_->kex->kind == SshKexKind::GroupExchange;
    switch (state_) {
        case SshKexState::AwaitGroup:
            if (type == kSshMsgKexDhGexGroup) return OnGroup(message);
            break;
        case SshKexState::AwaitReply:
            if (type == (groupExchange ? kSshMsgKexDhGexReply : kSshMsgKexdhReply))
                return OnReply(message);
            break;
        case SshKexState::AwaitNewkeys:
            if (type == kSshMsgNewkeys) return OnNewkeys();
            break;
        default:
            break;
    }
    return SshKexFailure{fileErrorInvalidServerResponse, kSshDisconnectProtocolError,
                         "Unexpected key-exchange message " + std::to_string(type)};
}

std::optional<SshKexFailure> SshKeyExchange::OnKexinit(std::span<const std::uint8_t> message) {
    if (state_ == SshKexState::Idle) Start();
    if (state_ != SshKexState::AwaitKexinit)
        return SshKexFailure{fileErrorInvalidServerResponse, kSshDisconnectProtocolError,
                             "Unexpected key-exchange init message"};
    const std::optional<SshKexinit> server = ParseSshKexinit(message);
    if (!server) return Malformed("key-exchange init");
    serverKexinit_.assign(message.begin(), message.end());
    std::size_t failedList = 0;
    negotiated_ = NegotiateSsh(offer_, *server, workarounds_, &failedList);
    if (!negotiated_)
        return Refused(std::string("No common ") + kListNames[failedList] + " algorithm");
    if (negotiated_->compressionCs || negotiated_->compressionSc)
        return Refused("Compression is not supported");
    ignoreNext_ = negotiated_->ignoreGuessedPacket;

    const SshNegotiated& n = *negotiated_;
    if (n.kex->kind != SshKexKind::GroupExchange) {
        dh_ = n.kex->kind == SshKexKind::Group14 ? DhContext::Group14() : DhContext::Group1();
        pbits_ = 0;
        SendE(kSshMsgKexdhInit);
        return std::nullopt;
    }
    pbits_ = SshGroupExchangeBits(*n.cipherCs, *n.cipherSc, *n.kex->hash);
    if (config_.groupExchangeOldRequest) {
        host_.SendKexPacket(std::move(SshPacket(kSshMsgKexDhGexRequestOld).PutUint32(pbits_)));
    } else {
        host_.SendKexPacket(std::move(SshPacket(kSshMsgKexDhGexRequest)
                                          .PutUint32(kGexMinBits)
                                          .PutUint32(pbits_)
                                          .PutUint32(kGexMaxBits)));
    }
    SetState(SshKexState::AwaitGroup);
    return std::nullopt;
}

std::optional<SshKexFailure> SshKeyExchange::OnGroup(std::span<const std::uint8_t> message) {
    SshReader reader(message.subspan(1));
    BigNum p, g;
    if (!reader.ReadMpint(&p) || !reader.ReadMpint(&g) || !reader.AtEnd())
        return Malformed("group-exchange group");
    dh_ = DhContext::FromGroup(std::move(p), std::move(g));
    if (!dh_) return Refused("Unusable group-exchange group");
    SendE(kSshMsgKexDhGexInit);
    return std::nullopt;
}

void SshKeyExchange::SendE(std::uint8_t messageType) {
    const SshNegotiated& n = *negotiated_;
    e_ = dh_->MakeE(SshExponentBits(*n.cipherCs, *n.cipherSc, *n.kex->hash));
    host_.SendKexPacket(std::move(SshPacket(messageType).PutMpint(e_)));
    SetState(SshKexState::AwaitReply);
}

SecureBytes SshKeyExchange::ExchangeHash(std::span<const std::uint8_t> hostKeyBlob, const BigNum& f,
                                         std::span<const std::uint8_t> secretMpint) const {
    SshWriter input;
    input.PutString(clientLine_);
    input.PutString(serverLine_);
    input.PutString(clientKexinit_);
    input.PutString(serverKexinit_);
    input.PutString(hostKeyBlob);
    if (negotiated_->kex->kind == SshKexKind::GroupExchange) {
        if (config_.groupExchangeOldRequest) {
            input.PutUint32(pbits_);
        } else {
            input.PutUint32(kGexMinBits);
            input.PutUint32(pbits_);
            input.PutUint32(kGexMaxBits);
        }
        input.PutMpint(dh_->prime());
        input.PutMpint(dh_->generator());
    }
    input.PutMpint(e_);
    input.PutMpint(f);
    input.PutBytes(secretMpint);
    const std::span<const std::uint8_t> parts[] = {input.data()};
    return HashOf(*negotiated_->kex->hash, parts);
}

std::unique_ptr<SshDirectionKeys> SshKeyExchange::MakeKeys(
    bool clientToServer, std::span<const std::uint8_t> secretMpint,
    std::span<const std::uint8_t> exchangeHash) const {
    const HashDescriptor& hash = *negotiated_->kex->hash;
    const bool omit = (workarounds_ & kBugSsh2KeyDerivation) != 0;
    const CipherDescriptor* cipher = clientToServer ? negotiated_->cipherCs : negotiated_->cipherSc;
    const MacDescriptor* mac = clientToServer ? negotiated_->macCs : negotiated_->macSc;
    const char ivLetter = clientToServer ? 'A' : 'B';
    const char keyLetter = clientToServer ? 'C' : 'D';
    const char macLetter = clientToServer ? 'E' : 'F';
    const SecureBytes key = DeriveSshKey(hash, secretMpint, exchangeHash, keyLetter, sessionId_,
                                         cipher->keyLength, omit);
    const SecureBytes iv = DeriveSshKey(hash, secretMpint, exchangeHash, ivLetter, sessionId_,
                                        cipher->blockSize, omit);
    const SecureBytes macKey =
        DeriveSshKey(hash, secretMpint, exchangeHash, macLetter, sessionId_, mac->keyLength, omit);
    return std::make_unique<SshDirectionKeys>(cipher, key, iv, mac, macKey);
}

std::optional<SshKexFailure> SshKeyExchange::OnReply(std::span<const std::uint8_t> message) {
    SshReader reader(message.subspan(1));
    std::span<const std::uint8_t> hostKeyBlob, signature;
    BigNum f;
    if (!reader.ReadString(&hostKeyBlob) || !reader.ReadMpint(&f) ||
        !reader.ReadString(&signature) || !reader.AtEnd())
        return Malformed("key-exchange reply");
    BigNum k;
    if (!dh_->FindK(f, &k)) return Refused("Diffie-Hellman value out of range");
    const SecureBytes secretMpint = MpintBytes(k);
    const SecureBytes h = ExchangeHash(hostKeyBlob, f, secretMpint);

    const PublicKeyAlgorithm& algorithm = *negotiated_->hostKey;
    PublicKeyPtr key(algorithm.newKey(hostKeyBlob));
    if (!key || !algorithm.verify(*key, signature, h))
        return SshKexFailure{fileErrorSecurityCertificate, kSshDisconnectKeyExchangeFailed,
                             "Server's host key did not match the signature supplied"};
    // A re-key must bring the key the first exchange was checked with. The
    // disconnect text names the server's own key only.
    if (completed_ > 0 && config_.hostKeyPolicy != SshHostKeyPolicy::Off &&
        !std::equal(hostKeyBlob.begin(), hostKeyBlob.end(), hostKeyBlob_.begin(),
                    hostKeyBlob_.end()))
        return SshKexFailure{fileErrorSecurityHostKey, kSshDisconnectHostKeyNotVerifiable,
                             HostKeyChangedOnRekeyText(config_, hostKeyBlob)};
    fingerprint_ = algorithm.fingerprint(*key);
    hostKeyBlob_.assign(hostKeyBlob.begin(), hostKeyBlob.end());
    if (sessionId_.empty()) sessionId_ = h;

    host_.SendKexPacket(SshPacket(kSshMsgNewkeys));
    host_.SwitchOutgoingKeys(MakeKeys(true, secretMpint, h));
    pendingIncoming_ = MakeKeys(false, secretMpint, h);
    dh_.reset();
    e_ = BigNum();
    SetState(SshKexState::AwaitNewkeys);
    return std::nullopt;
}

std::optional<SshKexFailure> SshKeyExchange::OnNewkeys() {
    host_.SwitchIncomingKeys(std::move(pendingIncoming_));
    ++completed_;
    SetState(SshKexState::Idle);
    return std::nullopt;
}
