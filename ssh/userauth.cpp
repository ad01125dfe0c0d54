#include "ssh/userauth.h"

#include <algorithm>
#include <cctype>

#include "crypto/random.h"
#include "crypto/sshbuf.h"
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

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    });
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

}  // namespace

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
        if (StartsWithNoCase(prompt, row.prefix)) return row.answer;
    return SshPromptAnswer::Unknown;
}

std::vector<SshPacket> CamouflageSecret(SshPacket secret, std::size_t blockSize) {
    std::vector<SshPacket> packets;
    const std::size_t payloadLength = secret.payload().size();
    packets.push_back(std::move(secret));
    if (blockSize == 0) return packets;
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
    packets.push_back(std::move(SshPacket(kSshMsgIgnore).PutString(filler)));
    return packets;
}

SshUserAuth::SshUserAuth(const SshConfig& config, SshLink& link) : config_(config), link_(link) {}

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
        case kSshMsgUserauthInfoRequest:
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
    if (!reader.ReadString(&methods) || !reader.ReadBool(&partialSuccess)) {
        Fail(fileErrorInvalidServerResponse, kSshDisconnectProtocolError, kMalformedText);
        return;
    }
    passwordOffered_ = NameListHas(methods, "password");
    keyboardInteractiveOffered_ =
        config_.allowKeyboardInteractive && NameListHas(methods, "keyboard-interactive");
    TryNextMethod();
}

void SshUserAuth::TryNextMethod() {
    if (keyboardInteractiveOffered_ && !keyboardInteractiveTried_) {
        keyboardInteractiveTried_ = true;
        method_ = "keyboard-interactive";
        link_.Send(std::move(SshPacket(kSshMsgUserauthRequest)
                                 .PutString(userName())
                                 .PutString(kConnectionService)
                                 .PutString("keyboard-interactive")
                                 .PutString("")     // language
                                 .PutString("")));  // submethods
        SetState(SshAuthState::KeyboardInteractive);
        return;
    }
    // The password goes out once per connection, keyboard-interactive answers
    // included: a refusal after it is final.
    if (passwordsSent_ > 0) {
        Fail(fileErrorAuthenticationFailed, kSshDisconnectAuthCancelledByUser, kAuthFailedText);
        return;
    }
    if (passwordOffered_ && !passwordTried_) {
        SendPassword();
        return;
    }
    Fail(fileErrorInvalidAuthenticationType, kSshDisconnectNoMoreAuthMethods, kNoMethodsText);
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
                             .PutString(config_.password)));
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
    SshPacket response(kSshMsgUserauthInfoResponse);
    response.PutUint32(count);
    bool carriesPassword = false;
    for (std::string_view prompt : prompts) {
        switch (ClassifySshPrompt(prompt, prompts.size())) {
            case SshPromptAnswer::Password:
                response.PutString(config_.password);
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

void SshUserAuth::Fail(int error, std::uint32_t reason, std::string_view text) {
    SetState(SshAuthState::Failed);
    link_.Fail(error, reason, text);
}
