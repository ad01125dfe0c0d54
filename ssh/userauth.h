// SSH-2 user authentication: the service request, then the methods the server
// offers in a fixed order (none to learn them, publickey with each key in turn,
// keyboard-interactive, password), answered from the configured user name, keys and
// password without asking anybody.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ssh/config.h"
#include "ssh/link.h"
#include "ssh/messages.h"

enum SshAuthMessage : std::uint8_t {
    kSshMsgUserauthRequest = 50,
    kSshMsgUserauthFailure = 51,
    kSshMsgUserauthBanner = 53,
    kSshMsgUserauthInfoRequest = 60,
    kSshMsgUserauthPkOk = 60,  // the same number, while a key is offered
    kSshMsgUserauthInfoResponse = 61,
};

// The user name sent is cut to this many characters.
constexpr std::size_t kSshMaxUserNameSent = 100;
// The password and the ignore message that hides its length fill at least this.
constexpr std::size_t kSshCamouflageMinimum = 256;

enum class SshAuthState {
    AwaitServiceAccept,
    AwaitNoneReply,
    AwaitPublicKeyOk,     // a key offered without a signature
    AwaitPublicKeyReply,  // the signed request sent
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

// The signature algorithm offered for a key type: RSA keys use the best SHA-2
// form the server's server-sig-algs lists, "ssh-rsa" only when it sent no list,
// and "" (the key is skipped) when it lists neither; other keys their own type.
std::string_view SshSignatureAlgorithmFor(std::string_view keyType,
                                          const std::vector<std::string>& serverSigAlgs);

// The data a publickey signature covers (RFC 4252 section 7).
SecureBytes SshPublicKeySignedData(std::span<const std::uint8_t> sessionId,
                                   std::string_view user, std::string_view algorithm,
                                   std::span<const std::uint8_t> keyBlob);

class SshUserAuth {
  public:
    // keys: tried in order with publickey (the agent's first, then key files).
    SshUserAuth(const SshConfig& config, SshLink& link,
                std::vector<std::shared_ptr<SshSigner>> keys = {});

    void Start();
    // One packet after the first key exchange (type byte and fields). Returns
    // false for a message that is not authentication's.
    bool Handle(std::span<const std::uint8_t> payload);

    SshAuthState state() const { return state_; }
    bool succeeded() const { return state_ == SshAuthState::Succeeded; }
    int passwordsSent() const { return passwordsSent_; }
    // The method of the last request sent ("none", "publickey",
    // "keyboard-interactive", "password").
    const std::string& method() const { return method_; }
    // What was tried, for the error's detail: "publickey (ssh-ed25519 FILE refused),
    // password".
    std::string TriedText() const;
    // Lets go of the keys (and so of the agent connection) once the login is over.
    void ForgetKeys() { keys_.clear(); }

    enum class Method { PublicKey, KeyboardInteractive, Password };

  private:
    void SetState(SshAuthState state);
    void OnFailureMessage(std::span<const std::uint8_t> payload);
    void OnInfoRequest(std::span<const std::uint8_t> payload);
    void TryNextMethod();
    bool TryPublicKey();
    bool TryKeyboardInteractive();
    bool TryPassword();
    void OnPublicKeyOk(std::span<const std::uint8_t> payload);
    void Note(Method method, std::string what);
    void SendRequest(std::string_view method);
    void SendPassword();
    bool SendSecret(SshPacket packet);
    void Fail(int error, std::uint32_t reason, std::string_view text);
    std::string_view userName() const;
    void FailWithDetail(int error, std::uint32_t reason, std::string_view text);

    const SshConfig& config_;
    SshLink& link_;
    SshAuthState state_ = SshAuthState::AwaitServiceAccept;
    std::vector<std::shared_ptr<SshSigner>> keys_;
    std::size_t nextKey_ = 0;
    std::string keyAlgorithm_;  // of the key being offered
    std::string offered_;       // the server's last list of methods
    std::vector<std::pair<Method, std::string>> tried_;
    bool passwordOffered_ = false;
    bool keyboardInteractiveOffered_ = false;
    bool keyboardInteractiveTried_ = false;
    bool passwordTried_ = false;
    int passwordsSent_ = 0;
    std::string method_;
};
