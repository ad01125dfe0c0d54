// SSH-2 user authentication: the service request, then the methods the server
// offers in a fixed order (none, keyboard-interactive, password), answered from
// the configured user name and password without asking anybody. Publickey is never
// tried: no key file is configured.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ssh/config.h"
#include "ssh/link.h"

enum SshAuthMessage : std::uint8_t {
    kSshMsgUserauthRequest = 50,
    kSshMsgUserauthFailure = 51,
    kSshMsgUserauthSuccess = 52,
    kSshMsgUserauthBanner = 53,
    kSshMsgUserauthInfoRequest = 60,
    kSshMsgUserauthInfoResponse = 61,
};

// The user name sent is cut to this many characters.
constexpr std::size_t kSshMaxUserNameSent = 100;
// The password and the ignore message that hides its length fill at least this.
constexpr std::size_t kSshCamouflageMinimum = 256;

enum class SshAuthState {
    AwaitServiceAccept,
    AwaitNoneReply,
    KeyboardInteractive,  // method sent, info requests answered
    AwaitPasswordReply,
    Succeeded,
    Failed,
};

// How a keyboard-interactive prompt is answered.
enum class SshPromptAnswer { Password, UserName, Empty, Unknown };
SshPromptAnswer ClassifySshPrompt(std::string_view prompt, std::size_t promptCount);

// The packet that carries a secret, followed (with a cipher on) by an ignore
// message of random bytes so that the two fill the next multiple of the block
// size from kSshCamouflageMinimum on: the secret's length does not show on the wire.
std::vector<SshPacket> CamouflageSecret(SshPacket secret, std::size_t blockSize);

class SshUserAuth {
  public:
    SshUserAuth(const SshConfig& config, SshLink& link);

    void Start();
    // One packet after the first key exchange (type byte and fields). Returns
    // false for a message that is not authentication's.
    bool Handle(std::span<const std::uint8_t> payload);

    SshAuthState state() const { return state_; }
    bool succeeded() const { return state_ == SshAuthState::Succeeded; }
    int passwordsSent() const { return passwordsSent_; }
    // The method of the last request sent ("none", "keyboard-interactive", "password").
    const std::string& method() const { return method_; }

  private:
    void SetState(SshAuthState state);
    void OnFailureMessage(std::span<const std::uint8_t> payload);
    void OnInfoRequest(std::span<const std::uint8_t> payload);
    void TryNextMethod();
    void SendRequest(std::string_view method);
    void SendPassword();
    bool SendSecret(SshPacket packet);
    void Fail(int error, std::uint32_t reason, std::string_view text);
    std::string_view userName() const;

    const SshConfig& config_;
    SshLink& link_;
    SshAuthState state_ = SshAuthState::AwaitServiceAccept;
    bool passwordOffered_ = false;
    bool keyboardInteractiveOffered_ = false;
    bool keyboardInteractiveTried_ = false;
    bool passwordTried_ = false;
    int passwordsSent_ = 0;
    std::string method_;
};
