// libFuzzer target for the private key readers. Not part of the normal build
// (the test folders build only *.cpp); build and run it by hand, see
// docs/ssh-keys.md.
//
// The first byte chooses what the rest is: key file text read without a
// passphrase, the raw body of an "openssh-key-v1" key, or key file text read
// with the passphrase "fuzzer" (PEM formats only: an OpenSSH key's bcrypt
// rounds would make single inputs slow by design). A key that loads must sign.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ssh/private_key.h"

namespace {

constexpr std::uint8_t kPassphrase[] = {'f', 'u', 'z', 'z', 'e', 'r'};

void CheckLoaded(const SshKeyLoadResult& result) {
    if ((result.status == SshKeyLoadStatus::Ok) != (result.key != nullptr)) __builtin_trap();
    if (!result.key) return;
    const std::uint8_t data[] = {1, 2, 3};
    if (result.key->publicKeyBlob().empty()) __builtin_trap();
    if (result.key
            ->Sign(result.key->keyType() == "ssh-rsa" ? "rsa-sha2-256" : result.key->keyType(),
                   data)
            .empty()) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t mode = data[0] % 3;
    const std::span<const std::uint8_t> rest(data + 1, size - 1);
    const std::string_view text(reinterpret_cast<const char*>(rest.data()), rest.size());
    if (mode == 0) {
        CheckLoaded(LoadSshPrivateKey(text, "fuzz", {}));
    } else if (mode == 1) {
        CheckLoaded(LoadOpensshKey(rest, "fuzz", {}));
    } else {
        PemArmor armor;
        std::string detail;
        if (ReadPemArmor(text, &armor, &detail) && armor.label != "OPENSSH PRIVATE KEY")
            CheckLoaded(LoadSshPrivateKey(text, "fuzz", kPassphrase));
    }
    return 0;
}
