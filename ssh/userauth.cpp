#include "ssh/userauth.h"

#include <algorithm>
#include <cctype>

#include "crypto/random.h"
#include "crypto/sshbuf.h"
#include "platform/lasterror.h"
#include "platform/text.h"
#include "resources/errors.h"
#include "ssh/messages.h"

namespace {

constexpr std::string_view kUserAuthService = "ssh-userauth";
constexpr std::string_view kConnectionService = "ssh-connection";
constexpr std::string_view kAuthFailedText = "User authentication failed";
constexpr std::string_view kNoMethodsText = "No supported authentication methods available";
constexpr std::string_view kMalformedText = "Malformed authentication message";

// Framed size (length field, padding length, payload, padding) of a payload with
// the least padding the block size allows.
std::size_t FramedLength(std::size_t payload, std::size_t block) {
    const std::size_t unpadded = SshPacket::kHeaderLength + payload + kSshMinPadding;
    return (unpadded + block - 1) / block * block;
}

bool NameListHas(std::string_view list, std::string_view name) {
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        if (list.substr(0, comma) == name) return true;
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    return false;
}

constexpr std::string_view kMethodNames[] = {"publickey", "keyboard-interactive", "password"};

}  // namespace

std::string_view SshSignatureAlgorithmFor(std::string_view keyType,
                                          const std::vector<std::string>& serverSigAlgs) {
    if (keyType != "ssh-rsa") return keyType;
    if (serverSigAlgs.empty()) return "ssh-rsa";
    static constexpr std::string_view kRsaPreference[] = {"rsa-sha2-512", "rsa-sha2-256"};
    for (std::string_view algorithm : kRsaPreference)
        if (std::find(serverSigAlgs.begin(), serverSigAlgs.end(), algorithm) != serverSigAlgs.end())
            return algorithm;
    return {};
}

SecureBytes SshPublicKeySignedData(std::span<const std::uint8_t> sessionId, std::string_view user,
                                   std::string_view algorithm,
                                   std::span<const std::uint8_t> keyBlob) {
    SshWriter writer;
    writer.PutString(sessionId);
    writer.PutByte(kSshMsgUserauthRequest);
    writer.PutString(user);
    writer.PutString(kConnectionService);
    writer.PutString("publickey");
    writer.PutBool(true);
    writer.PutString(algorithm);
    writer.PutString(keyBlob);
    return writer.Take();
}

SshPromptAnswer ClassifySshPrompt(std::string_view prompt, std::size_t promptCount) {
    if (promptCount == 1) return SshPromptAnswer::Password;
    struct Row {
        std::string_view prefix;
        SshPromptAnswer answer;
    };
    static constexpr Row kRows[] = {{"password:", SshPromptAnswer::Password},
                                    {"username:", SshPromptAnswer::UserName},
                                    {"login:", SshPromptAnswer::UserName}};
    if (prompt.empty()) return SshPromptAnswer::Empty;
    for (const Row& row : kRows)
        if (StartsWithIgnoringCase(prompt, row.prefix)) return row.answer;
    return SshPromptAnswer::Unknown;
}

std::vector<SshPacket> CamouflageSecret(SshPacket secret, std::size_t blockSize) {
    std::vector<SshPacket> packets;
    const std::size_t payloadLength = secret.payload().size();
    if (blockSize == 0) {
        packets.push_back(std::move(secret));
        return packets;
    }
    const std::size_t secretLength = FramedLength(payloadLength, blockSize);
    // An ignore message with an empty string frames to this much at least.
    const std::size_t smallestIgnore = FramedLength(1 + 4, blockSize);
    std::size_t total = (kSshCamouflageMinimum + blockSize - 1) / blockSize * blockSize;
    while (total < secretLength + smallestIgnore)
        total += blockSize;
    // Whole blocks: with the string sized so, the ignore message needs 4 bytes of
    // padding exactly.
    const std::size_t ignoreLength = total - secretLength;
    SecureBytes filler(ignoreLength - (SshPacket::kHeaderLength + 1 + 4 + kSshMinPadding));
    RandomBytes(filler);
    // The ignore message goes first: whatever follows the secret may already
    // fall under compression that starts once the server accepts it.
    packets.push_back(std::move(SshPacket(kSshMsgIgnore).PutString(filler)));
    packets.push_back(std::move(secret));
    return packets;
}

SshUserAuth::SshUserAuth(const SshConfig& config, SshLink& link,
                         std::vector<std::shared_ptr<SshSigner>> keys)
    : config_(config), link_(link), keys_(std::move(keys)) {}

void SshUserAuth::SetState(SshAuthState state) {
    state_ = state;
}

std::string_view SshUserAuth::userName() const {
    return std::string_view(config_.userName).substr(0, kSshMaxUserNameSent);
}

void SshUserAuth::Start() {
    if (config_.skipServiceRequest) {
        SendRequest("none");
        SetState(SshAuthState::AwaitNoneReply);
        return;
    }
    link_.Send(std::move(SshPacket(kSshMsgServiceRequest).PutString(kUserAuthService)));
    SetState(SshAuthState::AwaitServiceAccept);
}

bool SshUserAuth::Handle(std::span<const std::uint8_t> payload) {
    if (payload.empty()) return false;
    switch (payload[0]) {
        case kSshMsgServiceAccept:
            if (state_ != SshAuthState::AwaitServiceAccept) break;
            SendRequest("none");
            SetState(SshAuthState::AwaitNoneReply);
            return true;
        case kSshMsgUserauthFailure:
            OnFailureMessage(payload);
            return true;
        case kSshMsgUserauthSuccess:
            SetState(SshAuthState::Succeeded);
            return true;
        case kSshMsgUserauthBanner:
            return true;
        case kSshMsgUserauthInfoRequest:  // also PK_OK
            if (state_ == SshAuthState::AwaitPublicKeyOk)
                OnPublicKeyOk(payload);
            else
                OnInfoRequest(payload);
            return true;
        default:
            return false;
    }
    Fail(fileErrorInvalidServerResponse, kSshDisconnectProtocolError,
         "Unexpected service accept message");
    return true;
}

void SshUserAuth::OnFailureMessage(std::span<const std::uint8_t> payload) {
    SshReader reader(payload.subspan(1));
    std::string_view methods;
    bool partialSuccess = false;
    if (!reader.ReadString(&methods) || !reader.ReadBool(&partialSuccess) || !reader.Finish()) {
        Fail(fileErrorInvalidServerResponse, kSshDisconnectProtocolError, kMalformedText);
        return;
    }
    offered_ = std::string(methods);
    passwordOffered_ = NameListHas(methods, "password");
    keyboardInteractiveOffered_ =
        config_.allowKeyboardInteractive && NameListHas(methods, "keyboard-interactive");
    TryNextMethod();
}

// The methods in the order they are tried; each Try sends one request, or says
// that it has nothing (more) to offer.
void SshUserAuth::TryNextMethod() {
    struct Row {
        Method method;
        bool (SshUserAuth::*attempt)();
    };
    static constexpr Row kOrder[] = {
        {Method::PublicKey, &SshUserAuth::TryPublicKey},
        {Method::KeyboardInteractive, &SshUserAuth::TryKeyboardInteractive},
        {Method::Password, &SshUserAuth::TryPassword},
    };
    for (const Row& row : kOrder) {
        if (!NameListHas(offered_, kMethodNames[static_cast<int>(row.method)])) continue;
        if ((this->*row.attempt)()) return;
    }
    // The password goes out once per connection, keyboard-interactive answers
    // included: a refusal after it is final.
    if (passwordsSent_ > 0) {
        FailWithDetail(fileErrorAuthenticationFailed, kSshDisconnectAuthCancelledByUser,
                       kAuthFailedText);
    } else if (nextKey_ > 0 && !tried_.empty()) {
        FailWithDetail(fileErrorAuthenticationFailed, kSshDisconnectNoMoreAuthMethods,
                       kAuthFailedText);
    } else {
        FailWithDetail(fileErrorInvalidAuthenticationType, kSshDisconnectNoMoreAuthMethods,
                       kNoMethodsText);
    }
}

bool SshUserAuth::TryPublicKey() {
    while (nextKey_ < keys_.size()) {
        SshSigner& key = *keys_[nextKey_++];
        const std::string_view algorithm =
            SshSignatureAlgorithmFor(key.keyType(), link_.ServerSignatureAlgorithms());
        if (algorithm.empty()) {
            Note(Method::PublicKey, std::string(key.keyType()) + " " + std::string(key.origin()) +
                                        " skipped: no signature algorithm in common");
            continue;
        }
        keyAlgorithm_ = algorithm;
        method_ = "publickey";
        Note(Method::PublicKey, std::string(algorithm) + " " + std::string(key.origin()));
        link_.Send(std::move(SshPacket(kSshMsgUserauthRequest)
                                 .PutString(userName())
                                 .PutString(kConnectionService)
                                 .PutString("publickey")
                                 .PutBool(false)
                                 .PutString(algorithm)
                                 .PutString(key.publicKeyBlob())));
        SetState(SshAuthState::AwaitPublicKeyOk);
        return true;
    }
    return false;
}

// The server would take the key offered last: sign and send the real request.
void SshUserAuth::OnPublicKeyOk(std::span<const std::uint8_t> payload) {
    SshReader reader(payload.subspan(1));
    std::string_view algorithm;
    std::span<const std::uint8_t> blob;
    if (!reader.ReadString(&algorithm) || !reader.ReadString(&blob) || !reader.Finish()) {
        Fail(fileErrorInvalidServerResponse, kSshDisconnectProtocolError, kMalformedText);
        return;
    }
    SshSigner& key = *keys_.at(nextKey_ - 1);
    const std::span<const std::uint8_t> ours = key.publicKeyBlob();
    if (algorithm != keyAlgorithm_ ||
        !std::equal(blob.begin(), blob.end(), ours.begin(), ours.end())) {
        Fail(fileErrorInvalidServerResponse, kSshDisconnectProtocolError,
             "Public key acceptance for another key");
        return;
    }
    const SecureBytes data =
        SshPublicKeySignedData(link_.SessionId(), userName(), keyAlgorithm_, ours);
    const std::vector<std::uint8_t> signature = key.Sign(keyAlgorithm_, data);
    if (signature.empty()) {
        tried_.back().second += " (signing failed)";
        TryNextMethod();
        return;
    }
    link_.Send(std::move(SshPacket(kSshMsgUserauthRequest)
                             .PutString(userName())
                             .PutString(kConnectionService)
                             .PutString("publickey")
                             .PutBool(true)
                             .PutString(keyAlgorithm_)
                             .PutString(ours)
                             .PutString(signature)));
    SetState(SshAuthState::AwaitPublicKeyReply);
}

bool SshUserAuth::TryKeyboardInteractive() {
    // Without a password there is nothing to answer a prompt with.
    if (!keyboardInteractiveOffered_ || keyboardInteractiveTried_ || config_.password.empty())
        return false;
    keyboardInteractiveTried_ = true;
    method_ = "keyboard-interactive";
    Note(Method::KeyboardInteractive, {});
    link_.Send(std::move(SshPacket(kSshMsgUserauthRequest)
                             .PutString(userName())
                             .PutString(kConnectionService)
                             .PutString("keyboard-interactive")
                             .PutString("")     // language
                             .PutString("")));  // submethods
    SetState(SshAuthState::KeyboardInteractive);
    return true;
}

bool SshUserAuth::TryPassword() {
    if (passwordsSent_ > 0 || passwordTried_ || config_.password.empty()) return false;
    Note(Method::Password, {});
    SendPassword();
    return true;
}

void SshUserAuth::Note(Method method, std::string what) {
    tried_.emplace_back(method, std::move(what));
}

std::string SshUserAuth::TriedText() const {
    std::string text;
    for (std::size_t i = 0; i < tried_.size(); ++i) {
        const Method method = tried_[i].first;
        const bool sameAsBefore = i > 0 && tried_[i - 1].first == method;
        if (!sameAsBefore) {
            if (!text.empty()) text += "), ";
            text += kMethodNames[static_cast<int>(method)];
            text += " (";
        } else {
            text += ", ";
        }
        text += tried_[i].second;
    }
    if (!text.empty()) text += ")";
    // Methods without a note read "password ()": drop the empty brackets.
    for (std::size_t at; (at = text.find(" ()")) != std::string::npos;)
        text.erase(at, 3);
    return text;
}

void SshUserAuth::SendRequest(std::string_view method) {
    method_ = method;
    link_.Send(std::move(SshPacket(kSshMsgUserauthRequest)
                             .PutString(userName())
                             .PutString(kConnectionService)
                             .PutString(method)));
}

void SshUserAuth::SendPassword() {
    passwordTried_ = true;
    method_ = "password";
    ++passwordsSent_;
    SetState(SshAuthState::AwaitPasswordReply);
    SendSecret(std::move(SshPacket(kSshMsgUserauthRequest)
                             .PutString(userName())
                             .PutString(kConnectionService)
                             .PutString("password")
                             .PutBool(false)
                             .PutString(config_.password.view())));
}

// The packet's buffer is a wiping one: the copy of the secret is gone once sent.
bool SshUserAuth::SendSecret(SshPacket packet) {
    return link_.SendTogether(CamouflageSecret(std::move(packet), link_.OutgoingBlockSize()));
}

void SshUserAuth::OnInfoRequest(std::span<const std::uint8_t> payload) {
    if (state_ != SshAuthState::KeyboardInteractive) {
        Fail(fileErrorInvalidServerResponse, kSshDisconnectProtocolError,
             "Unexpected keyboard-interactive request");
        return;
    }
    SshReader reader(payload.subspan(1));
    std::string_view name, instruction, language;
    std::uint32_t count = 0;
    if (!reader.ReadString(&name) || !reader.ReadString(&instruction) ||
        !reader.ReadString(&language) || !reader.ReadUint32(&count)) {
        Fail(fileErrorInvalidServerResponse, kSshDisconnectProtocolError, kMalformedText);
        return;
    }
    std::vector<std::string_view> prompts;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string_view prompt;
        bool echo = false;
        if (!reader.ReadString(&prompt) || !reader.ReadBool(&echo)) {
            Fail(fileErrorInvalidServerResponse, kSshDisconnectProtocolError, kMalformedText);
            return;
        }
        prompts.push_back(prompt);
    }
    if (!reader.Finish()) {
        Fail(fileErrorInvalidServerResponse, kSshDisconnectProtocolError, kMalformedText);
        return;
    }
    SshPacket response(kSshMsgUserauthInfoResponse);
    response.PutUint32(count);
    bool carriesPassword = false;
    for (std::string_view prompt : prompts) {
        switch (ClassifySshPrompt(prompt, prompts.size())) {
            case SshPromptAnswer::Password:
                response.PutString(config_.password.view());
                carriesPassword = true;
                break;
            case SshPromptAnswer::UserName:
                response.PutString(userName());
                break;
            case SshPromptAnswer::Empty:
                response.PutString("");
                break;
            case SshPromptAnswer::Unknown:
                Fail(fileErrorInvalidAuthenticationType, kSshDisconnectAuthCancelledByUser,
                     kAuthFailedText);
                return;
        }
    }
    if (carriesPassword) {
        if (passwordsSent_ > 0) {
            Fail(fileErrorAuthenticationFailed, kSshDisconnectAuthCancelledByUser, kAuthFailedText);
            return;
        }
        ++passwordsSent_;
    }
    if (prompts.empty())
        link_.Send(std::move(response));
    else
        SendSecret(std::move(response));
}

// The server hears the short text; the user also learns what was tried and what
// the server offers.
void SshUserAuth::FailWithDetail(int error, std::uint32_t reason, std::string_view text) {
    Fail(error, reason, text);
    std::string detail = "tried " + (tried_.empty() ? std::string("none") : TriedText());
    detail += "; the server offers " + (offered_.empty() ? std::string("nothing") : offered_);
    SetLastErrorDetail(MakeErrorCode(error), detail);
}

void SshUserAuth::Fail(int error, std::uint32_t reason, std::string_view text) {
    SetState(SshAuthState::Failed);
    link_.Fail(error, reason, text);
}
