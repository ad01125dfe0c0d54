// Public-key login of SFTP connections: the key file of PrivateKey (or ~/.ssh's
// default keys) is loaded before any connection is made, so that a missing,
// damaged or locked key fails at once, without a round trip to the server.
#include <array>
#include <string>

#include "control/FileTransfer.h"
#include "ftp/ftp.h"
#include "ftp/login_keys.h"
#include "net/trace.h"
#include "platform/file.h"
#include "platform/lasterror.h"
#include "platform/system.h"
#include "resources/errors.h"

namespace {

// The keys tried without PrivateKey when DefaultIdentities is on, in OpenSSH's order.
constexpr std::array<const char*, 3> kDefaultIdentities = {"id_ed25519", "id_ecdsa", "id_rsa"};

// The error a key that cannot be used gives, with the loader's detail.
void ReportKeyFailure(const std::string& path, const SshKeyLoadResult& result) {
    const bool passphrase = result.status == SshKeyLoadStatus::PassphraseNeeded ||
                            result.status == SshKeyLoadStatus::WrongPassphrase;
    const DWORD code =
        MakeErrorCode(passphrase ? fileErrorPrivateKeyPassphrase : fileErrorPrivateKeyLoad);
    std::string detail = path;
    if (!result.detail.empty()) detail += ": " + result.detail;
    FtpSetLastError(code);
    SetLastErrorDetail(code, detail);
}

}  // namespace

bool CFileTransfer::PrepareLoginKeys(const SecretBytes& password, bool* passwordIsPassphrase) {
    *passwordIsPassphrase = false;
    SftpLoginKeys login;
    login.useAgent = state_.useAgent != FALSE;
    if (login.useAgent) login.agentSocket = EnvironmentValue("SSH_AUTH_SOCK");
    if (!state_.privateKey.empty()) {
        SecretBytes name;
        state_.privateKey.ToUtf8(&name);
        const std::string path(name.view());
        // Without a passphrase first: Password is the passphrase only of a key that
        // needs one, and stays the login password otherwise.
        SshKeyLoadResult result = LoadSshPrivateKeyFile(path, {});
        if (result.status == SshKeyLoadStatus::PassphraseNeeded && !password.empty()) {
            result = LoadSshPrivateKeyFile(path, password.bytes());
            *passwordIsPassphrase = true;
        }
        if (result.status != SshKeyLoadStatus::Ok || !result.key) {
            ReportKeyFailure(path, result);
            FtpSetLoginKeys({});
            return false;
        }
        login.keys.push_back(std::move(result.key));
    } else if (state_.defaultIdentities) {
        const std::string home = platform::HomeDirectory();
        for (const char* name : kDefaultIdentities) {
            const std::string path = home + "/.ssh/" + name;
            SshKeyLoadResult result = LoadSshPrivateKeyFile(path, {});
            if (result.status == SshKeyLoadStatus::Ok && result.key)
                login.keys.push_back(std::move(result.key));
            else if (result.status != SshKeyLoadStatus::NotFound)
                NetTraceMessage(NET_TRACE_INFO, "default key %s skipped: %s", path.c_str(),
                                result.detail.c_str());
        }
    }
    FtpSetLoginKeys(std::move(login));
    return true;
}
