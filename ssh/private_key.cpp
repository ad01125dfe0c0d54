// Private key files. Not read yet: every file is reported as unsupported.
#include "ssh/signer.h"

SshKeyLoadResult LoadSshPrivateKey(std::string_view, std::string_view,
                                   std::span<const std::uint8_t>) {
    return {SshKeyLoadStatus::Unsupported, nullptr, "private key files are not read yet"};
}

SshKeyLoadResult LoadSshPrivateKeyFile(const std::string&, std::span<const std::uint8_t>) {
    return {SshKeyLoadStatus::Unsupported, nullptr, "private key files are not read yet"};
}
