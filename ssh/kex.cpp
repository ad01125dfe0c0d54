#include "ssh/kex.h"

#include <algorithm>

#include "crypto/pubkey.h"
#include "crypto/random.h"
#include "crypto/sshbuf.h"
#include "crypto/x25519.h"
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

bool IsCurve(SshKexKind kind) {
    return kind == SshKexKind::Curve25519 || kind == SshKexKind::Ecdh;
}

// The fixed Diffie-Hellman groups by kind.
struct FixedGroupRow {
    SshKexKind kind;
    std::unique_ptr<DhContext> (*make)();
};
constexpr FixedGroupRow kFixedGroups[] = {
    {SshKexKind::Group1, &DhContext::Group1},
    {SshKexKind::Group14, &DhContext::Group14},
    {SshKexKind::Group16, &DhContext::Group16},
    {SshKexKind::Group18, &DhContext::Group18},
};

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
    offer_ = SshClientOffer(config_, workarounds_, completed_ == 0);
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
        return Refused(std::string("No common ") + kListNames[failedList] +
                       " algorithm; server offers " + JoinSshNames(server->lists[failedList]) +
                       "; client offers " + JoinSshNames(offer_.lists[failedList]));
    ignoreNext_ = negotiated_->ignoreGuessedPacket;
    if (completed_ == 0) strict_ = negotiated_->strictKex;

    const SshNegotiated& n = *negotiated_;
    pbits_ = 0;
    if (IsCurve(n.kex->kind)) {
        if (!SendEphemeralKey()) return Refused("Unknown elliptic curve");
        return std::nullopt;
    }
    for (const FixedGroupRow& row : kFixedGroups) {
        if (row.kind != n.kex->kind) continue;
        dh_ = row.make();
        SendE(kSshMsgKexdhInit);
        return std::nullopt;
    }
    pbits_ = SshGroupExchangeBits(n);
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
    if (!reader.ReadMpint(&p) || !reader.ReadMpint(&g) || !reader.Finish())
        return Malformed("group-exchange group");
    dh_ = DhContext::FromGroup(std::move(p), std::move(g));
    if (!dh_) return Refused("Unusable group-exchange group");
    SendE(kSshMsgKexDhGexInit);
    return std::nullopt;
}

void SshKeyExchange::SendE(std::uint8_t messageType) {
    e_ = dh_->MakeE(SshExponentBits(*negotiated_));
    host_.SendKexPacket(std::move(SshPacket(messageType).PutMpint(e_)));
    SetState(SshKexState::AwaitReply);
}

bool SshKeyExchange::SendEphemeralKey() {
    const SshKexMethod& method = *negotiated_->kex;
    if (method.kind == SshKexKind::Curve25519) {
        curveSecret_.assign(kX25519Length, 0);
        RandomBytes(curveSecret_);
        clientPublic_.assign(kX25519Length, 0);
        X25519Base(clientPublic_.data(), curveSecret_.data());
    } else {
        const EcCurve* curve = FindEcCurve(method.curve);
        if (!curve) return false;
        ecdh_ = EcdhPrivateKey::Generate(*curve);
        const auto point = ecdh_->publicPoint();
        clientPublic_.assign(point.begin(), point.end());
    }
    host_.SendKexPacket(std::move(SshPacket(kSshMsgKexEcdhInit).PutString(clientPublic_)));
    SetState(SshKexState::AwaitReply);
    return true;
}

// K for the elliptic-curve exchanges: the X25519 output or the x coordinate, read
// as an unsigned big-endian number (RFC 8731 section 3.1, RFC 5656 section 4).
std::optional<SecureBytes> SshKeyExchange::SharedSecret(
    std::span<const std::uint8_t> serverValue) const {
    SecureBytes secret;
    if (negotiated_->kex->kind == SshKexKind::Curve25519) {
        if (serverValue.size() != kX25519Length) return std::nullopt;
        secret.assign(kX25519Length, 0);
        if (!X25519(secret.data(), curveSecret_.data(), serverValue.data())) return std::nullopt;
    } else if (!ecdh_ || !ecdh_->SharedSecret(serverValue, &secret)) {
        return std::nullopt;
    }
    return MpintBytes(BigNum::FromBytes(secret));
}

SecureBytes SshKeyExchange::ExchangeHash(std::span<const std::uint8_t> hostKeyBlob,
                                         std::span<const std::uint8_t> serverValue,
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
    if (IsCurve(negotiated_->kex->kind)) {
        input.PutString(clientPublic_);
        input.PutString(serverValue);
    } else {
        input.PutMpint(e_);
        input.PutBytes(serverValue);  // f, already in mpint form
    }
    input.PutBytes(secretMpint);
    const std::span<const std::uint8_t> parts[] = {input.data()};
    return HashOf(*negotiated_->kex->hash, parts);
}

std::unique_ptr<SshDirectionKeys> SshKeyExchange::MakeKeys(
    bool clientToServer, std::span<const std::uint8_t> secretMpint,
    std::span<const std::uint8_t> exchangeHash) const {
    const HashDescriptor& hash = *negotiated_->kex->hash;
    const bool omit = (workarounds_ & kBugSsh2KeyDerivation) != 0;
    const SshNegotiated& n = *negotiated_;
    const AeadDescriptor* aead = clientToServer ? n.aeadCs : n.aeadSc;
    const CipherDescriptor* cipher = clientToServer ? n.cipherCs : n.cipherSc;
    const MacDescriptor* mac = clientToServer ? n.macCs : n.macSc;
    const char ivLetter = clientToServer ? 'A' : 'B';
    const char keyLetter = clientToServer ? 'C' : 'D';
    const char macLetter = clientToServer ? 'E' : 'F';
    auto derive = [&](char letter, std::size_t length) {
        return DeriveSshKey(hash, secretMpint, exchangeHash, letter, sessionId_, length, omit);
    };
    std::unique_ptr<SshDirectionKeys> keys;
    if (aead) {
        const SecureBytes key = derive(keyLetter, aead->keyLength);
        const SecureBytes iv = derive(ivLetter, aead->ivLength);
        keys = std::make_unique<SshDirectionKeys>(aead, key, iv);
    } else {
        const SecureBytes key = derive(keyLetter, cipher->keyLength);
        const SecureBytes iv = derive(ivLetter, cipher->blockSize);
        const SecureBytes macKey = derive(macLetter, mac->keyLength);
        keys = std::make_unique<SshDirectionKeys>(cipher, key, iv, mac, macKey,
                                                  clientToServer ? n.etmCs : n.etmSc);
    }
    keys->SetCompression(clientToServer ? n.compressionCs : n.compressionSc);
    return keys;
}

std::optional<SshKexFailure> SshKeyExchange::OnReply(std::span<const std::uint8_t> message) {
    SshReader reader(message.subspan(1));
    std::span<const std::uint8_t> hostKeyBlob, signature;
    const bool curve = IsCurve(negotiated_->kex->kind);
    BigNum f;
    std::span<const std::uint8_t> serverPublic;
    if (!reader.ReadString(&hostKeyBlob) ||
        !(curve ? reader.ReadString(&serverPublic) : reader.ReadMpint(&f)) ||
        !reader.ReadString(&signature) || !reader.Finish())
        return Malformed("key-exchange reply");
    SecureBytes secretMpint;
    SecureBytes serverValue;  // Q_S as sent, or f as an mpint
    if (curve) {
        std::optional<SecureBytes> secret = SharedSecret(serverPublic);
        if (!secret) return Refused("Elliptic-curve value out of range");
        secretMpint = std::move(*secret);
        serverValue.assign(serverPublic.begin(), serverPublic.end());
    } else {
        BigNum k;
        if (!dh_->FindK(f, &k)) return Refused("Diffie-Hellman value out of range");
        secretMpint = MpintBytes(k);
        serverValue = MpintBytes(f);
    }
    const SecureBytes h = ExchangeHash(hostKeyBlob, serverValue, secretMpint);

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
    fingerprint_ = algorithm.fingerprint(*key, hostKeyBlob);
    hostKeyBlob_.assign(hostKeyBlob.begin(), hostKeyBlob.end());
    if (sessionId_.empty()) sessionId_ = h;

    host_.SendKexPacket(SshPacket(kSshMsgNewkeys));
    host_.SwitchOutgoingKeys(MakeKeys(true, secretMpint, h), strict_);
    pendingIncoming_ = MakeKeys(false, secretMpint, h);
    dh_.reset();
    e_ = BigNum();
    ecdh_.reset();
    curveSecret_.clear();
    SetState(SshKexState::AwaitNewkeys);
    return std::nullopt;
}

std::optional<SshKexFailure> SshKeyExchange::OnNewkeys() {
    host_.SwitchIncomingKeys(std::move(pendingIncoming_), strict_);
    ++completed_;
    SetState(SshKexState::Idle);
    return std::nullopt;
}
