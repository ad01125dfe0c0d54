#include "ssh/ssh1_session.h"

#include <algorithm>

#include "crypto/random.h"
#include "crypto/sshbuf.h"
#include "resources/errors.h"
#include "ssh/messages.h"
#include "ssh/ssh1_packet.h"
#include "ssh/userauth.h"
#include "ssh/version.h"

namespace {

SshPacket PasswordPacket(std::span<const std::uint8_t> secret) {
    return std::move(SshPacket(kSsh1CmsgAuthPassword).PutString(secret));
}

std::span<const std::uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::vector<SshPacket> Ssh1PasswordPackets(std::string_view password, std::uint32_t workarounds) {
    std::vector<SshPacket> packets;
    if (workarounds & kBugSsh1PlainPassword) {
        packets.push_back(PasswordPacket(Bytes(password)));
        return packets;
    }
    if (workarounds & kBugSsh1Ignore) {
        if (password.size() >= kSsh1PaddedPasswordLength) {
            packets.push_back(PasswordPacket(Bytes(password)));
            return packets;
        }
        SecureBytes padded(kSsh1PaddedPasswordLength);
        std::copy(password.begin(), password.end(), padded.begin());
        padded[password.size()] = 0;
        RandomBytes(std::span(padded).subspan(password.size() + 1));
        packets.push_back(PasswordPacket(padded));
        return packets;
    }
    // The real packet hides among ignore messages of every length around its own.
    const std::size_t bottom = password.size() < 16 ? 0 : password.size() & ~std::size_t{7};
    const std::size_t top = bottom + (password.size() < 16 ? 15 : 7);
    for (std::size_t length = bottom; length <= top; ++length) {
        if (length == password.size()) {
            packets.push_back(PasswordPacket(Bytes(password)));
            continue;
        }
        SecureBytes noise(length);
        for (std::uint8_t& byte : noise) {
            do {
                byte = RandomByte();
            } while (byte == 0);
        }
        packets.push_back(std::move(SshPacket(kSsh1MsgIgnore).PutString(noise)));
    }
    return packets;
}

Ssh1Session::Ssh1Session(const SshConfig& config, SshLink& link, std::uint32_t serverAuthMask)
    : config_(config), link_(link), serverAuthMask_(serverAuthMask) {}

void Ssh1Session::SetState(Ssh1SessionState state) {
    state_ = state;
}

void Ssh1Session::Start() {
    const std::string_view user = std::string_view(config_.userName).substr(0, kSshMaxUserNameSent);
    link_.Send(std::move(SshPacket(kSsh1CmsgUser).PutString(user)));
    SetState(Ssh1SessionState::AwaitUserReply);
}

bool Ssh1Session::Handle(std::span<const std::uint8_t> payload) {
    if (payload.empty()) return false;
    SshReader reader(payload.subspan(1));
    switch (payload[0]) {
        case kSsh1SmsgSuccess:
        case kSsh1SmsgFailure:
            OnAuthReply(payload[0] == kSsh1SmsgSuccess);
            return true;
        case kSsh1SmsgStdoutData:
        case kSsh1SmsgStderrData: {
            std::span<const std::uint8_t> data;
            if (!reader.ReadString(&data) || !reader.Finish()) {
                Fail(fileErrorInvalidServerResponse, "Malformed session data");
                return true;
            }
            if (payload[0] == kSsh1SmsgStdoutData && state_ == Ssh1SessionState::Running)
                incoming_.Append(data);
            return true;
        }
        case kSsh1SmsgExitStatus: {
            std::uint32_t status = 0;
            if (reader.ReadUint32(&status) && reader.Finish()) exit_.status = status;
            link_.Send(SshPacket(kSsh1CmsgExitConfirmation));
            SetState(Ssh1SessionState::Exited);
            return true;
        }
        default:
            return false;
    }
}

void Ssh1Session::OnAuthReply(bool success) {
    switch (state_) {
        case Ssh1SessionState::AwaitUserReply:
            if (success) {
                StartCommand();  // no authentication needed
                return;
            }
            // RSA authentication needs a key file; the challenge methods are off.
            if (!(serverAuthMask_ & kSsh1AuthPasswordBit)) {
                Fail(fileErrorInvalidAuthenticationType,
                     "No supported authentication methods available");
                return;
            }
            SetState(Ssh1SessionState::AwaitPasswordReply);
            link_.SendTogether(Ssh1PasswordPackets(config_.password.view(), link_.Workarounds()));
            return;
        case Ssh1SessionState::AwaitPasswordReply:
            if (success)
                StartCommand();
            else
                Fail(fileErrorAuthenticationFailed, "User authentication failed");
            return;
        default:
            return;  // success or failure of something we did not ask
    }
}

// A subsystem cannot be asked for over SSH-1: the fallback command runs instead.
void Ssh1Session::StartCommand() {
    const bool useFallback = config_.remoteCommandIsSubsystem && !config_.fallbackCommand.empty();
    const std::string& command = useFallback ? config_.fallbackCommand : config_.remoteCommand;
    if (command.empty())
        link_.Send(SshPacket(kSsh1CmsgExecShell));
    else
        link_.Send(std::move(SshPacket(kSsh1CmsgExecCmd).PutString(command)));
    SetState(Ssh1SessionState::Running);
    if (eofWanted_) SendEof();
}

bool Ssh1Session::Send(std::span<const std::uint8_t> data) {
    if (state_ != Ssh1SessionState::Running || eofSent_) return false;
    while (!data.empty()) {
        const std::size_t piece = std::min(data.size(), kSsh1DataPiece);
        if (!link_.Send(std::move(SshPacket(kSsh1CmsgStdinData).PutString(data.first(piece)))))
            return false;
        data = data.subspan(piece);
    }
    return true;
}

void Ssh1Session::SendEof() {
    eofWanted_ = true;
    if (state_ != Ssh1SessionState::Running || eofSent_) return;
    eofSent_ = true;
    link_.Send(SshPacket(kSsh1CmsgEof));
}

void Ssh1Session::Close() {
    SendEof();
}

std::size_t Ssh1Session::Read(std::span<std::uint8_t> out) {
    return incoming_.Take(out);
}

void Ssh1Session::Fail(int error, std::string_view text) {
    SetState(Ssh1SessionState::Failed);
    link_.Fail(error, 0, text);
}
