#include "tls/client_certificate.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "resources/errors.h"
#include "tls/channel.h"

namespace tls {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMachinePrefix = "HKLM:";
constexpr std::string_view kUserPrefix = "HKCU:";
constexpr std::string_view kDefaultStoreName = "MY";
constexpr const char* kMachineStoreRoot = "/etc/tollane/certs";

enum class FileKind { Pkcs12, Pem, Other };

struct ExtensionKind {
    std::string_view extension;
    FileKind kind;
};

constexpr ExtensionKind kExtensions[] = {
    {".p12", FileKind::Pkcs12}, {".pfx", FileKind::Pkcs12}, {".pem", FileKind::Pem},
    {".crt", FileKind::Pem},    {".cer", FileKind::Pem},
};

FileKind KindOf(const fs::path& path) {
    std::string extension = path.extension().string();
    for (const ExtensionKind& entry : kExtensions) {
        if (EqualsIgnoringCase(extension, entry.extension)) return entry.kind;
    }
    return FileKind::Other;
}

std::string UserStoreRoot() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') return std::string(config) + "/tollane/certs";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.config/tollane/certs";
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// A store name may not climb out of its root.
StoreLocation NamedStore(const std::string& root, std::string_view name) {
    if (name.empty()) name = kDefaultStoreName;
    if (name.find('/') != std::string_view::npos || name == "." || name == "..") return {};
    return {StoreLocation::Kind::Folder, root + "/" + std::string(name)};
}

const char* Password(const TlsCredentials& credentials) {
    return credentials.pfxPassword ? credentials.pfxPassword : "";
}

bool LoadPkcs12(const fs::path& path, const char* password, ClientIdentity& identity) {
    BIO* file = BIO_new_file(path.c_str(), "rb");
    if (!file) return false;
    PKCS12* bundle = d2i_PKCS12_bio(file, nullptr);
    BIO_free(file);
    if (!bundle) return false;
    bool parsed =
        PKCS12_parse(bundle, password, &identity.key, &identity.certificate, &identity.chain) == 1;
    PKCS12_free(bundle);
    if (!parsed) return false;
    int length = 0;
    const unsigned char* alias =
        identity.certificate ? X509_alias_get0(identity.certificate, &length) : nullptr;
    identity.friendlyName =
        alias ? std::string(reinterpret_cast<const char*>(alias), static_cast<std::size_t>(length))
              : path.stem().string();
    return true;
}

EVP_PKEY* ReadPemKey(const fs::path& path, const char* password) {
    BIO* file = BIO_new_file(path.c_str(), "r");
    if (!file) return nullptr;
    EVP_PKEY* key = PEM_read_bio_PrivateKey(file, nullptr, nullptr, const_cast<char*>(password));
    BIO_free(file);
    return key;
}

// A PEM file: its first certificate, the certificates after it as the chain,
// and the private key from the same file or from NAME.key beside it.
bool LoadPem(const fs::path& path, const char* password, ClientIdentity& identity) {
    BIO* file = BIO_new_file(path.c_str(), "r");
    if (!file) return false;
    identity.certificate = PEM_read_bio_X509(file, nullptr, nullptr, nullptr);
    if (identity.certificate) {
        identity.chain = sk_X509_new_null();
        while (X509* next = PEM_read_bio_X509(file, nullptr, nullptr, nullptr)) {
            if (!identity.chain || !sk_X509_push(identity.chain, next)) X509_free(next);
        }
    }
    BIO_free(file);
    if (!identity.certificate) return false;
    identity.key = ReadPemKey(path, password);
    if (!identity.key) {
        fs::path keyPath = path;
        identity.key = ReadPemKey(keyPath.replace_extension(".key"), password);
    }
    identity.friendlyName = path.stem().string();
    return identity.key != nullptr;
}

bool LoadFile(const fs::path& path, const char* password, ClientIdentity& identity) {
    switch (KindOf(path)) {
        case FileKind::Pkcs12:
            return LoadPkcs12(path, password, identity);
        case FileKind::Pem:
            return LoadPem(path, password, identity);
        case FileKind::Other:
            break;
    }
    return false;
}

// Every usable certificate of the store, in file-name order.
std::vector<ClientIdentity> LoadStore(const StoreLocation& location, const char* password) {
    std::vector<ClientIdentity> found;
    if (location.kind == StoreLocation::Kind::Pkcs12File) {
        ClientIdentity identity;
        if (LoadPkcs12(location.path, password, identity) && identity.complete()) {
            found.push_back(std::move(identity));
        }
        return found;
    }
    std::error_code error;
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(location.path, error)) {
        if (entry.is_regular_file(error)) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& path : files) {
        ClientIdentity identity;
        if (LoadFile(path, password, identity) && identity.complete() &&
            X509_check_private_key(identity.certificate, identity.key) == 1) {
            found.push_back(std::move(identity));
        }
    }
    return found;
}

// The index of the chosen candidate, or candidates.size() when none fits.
std::size_t Pick(const std::vector<ClientIdentity>& candidates, std::string_view name) {
    auto byFriendlyName = std::find_if(candidates.begin(), candidates.end(), [&](const auto& c) {
        return EqualsIgnoringCase(c.friendlyName, name);
    });
    if (byFriendlyName != candidates.end()) return byFriendlyName - candidates.begin();
    auto bySubject = std::find_if(candidates.begin(), candidates.end(), [&](const auto& c) {
        return ContainsIgnoringCase(NameText(X509_get_subject_name(c.certificate)), name);
    });
    return bySubject - candidates.begin();
}

}  // namespace

StoreLocation ResolveCertificateStore(const TlsCredentials& credentials) {
    std::string_view text = credentials.certificateStore ? credentials.certificateStore : "";
    if (StartsWithIgnoringCase(text, kMachinePrefix)) {
        return NamedStore(kMachineStoreRoot, text.substr(kMachinePrefix.size()));
    }
    if (StartsWithIgnoringCase(text, kUserPrefix)) {
        return NamedStore(UserStoreRoot(), text.substr(kUserPrefix.size()));
    }
    std::error_code error;
    fs::path path(text);
    if (!text.empty() && fs::is_regular_file(path, error)) {
        return {StoreLocation::Kind::Pkcs12File, std::string(text)};
    }
    if (!text.empty() && fs::is_directory(path, error)) {
        return {StoreLocation::Kind::Folder, std::string(text)};
    }
    bool machine = (credentials.location & TLS_STORE_LOCAL_MACHINE) != 0 &&
                   (credentials.location & TLS_STORE_CURRENT_USER) == 0;
    return NamedStore(machine ? kMachineStoreRoot : UserStoreRoot(), text);
}

int LoadClientIdentity(const TlsCredentials& credentials, ClientIdentity& identity) {
    std::string_view name = credentials.certificateName ? credentials.certificateName : "";
    StoreLocation location = ResolveCertificateStore(credentials);
    if (name.empty() || location.kind == StoreLocation::Kind::Invalid) {
        return Fail(fileErrorSecurityCredentials);
    }
    std::vector<ClientIdentity> candidates = LoadStore(location, Password(credentials));
    ERR_clear_error();
    std::size_t chosen = Pick(candidates, name);
    if (chosen == candidates.size()) return Fail(fileErrorSecurityCredentials);
    identity = std::move(candidates[chosen]);
    return 1;
}

ClientIdentity::~ClientIdentity() {
    Release();
}

ClientIdentity::ClientIdentity(ClientIdentity&& other) noexcept {
    *this = std::move(other);
}

ClientIdentity& ClientIdentity::operator=(ClientIdentity&& other) noexcept {
    if (this != &other) {
        Release();
        certificate = std::exchange(other.certificate, nullptr);
        key = std::exchange(other.key, nullptr);
        chain = std::exchange(other.chain, nullptr);
        friendlyName = std::move(other.friendlyName);
    }
    return *this;
}

void ClientIdentity::Release() {
    X509_free(certificate);
    EVP_PKEY_free(key);
    sk_X509_pop_free(chain, X509_free);
    certificate = nullptr;
    key = nullptr;
    chain = nullptr;
}

int ClientIdentity::InstallInto(SSL_CTX* ctx) const {
    if (!complete()) return 0;
    if (SSL_CTX_use_certificate(ctx, certificate) != 1) return 0;
    if (SSL_CTX_use_PrivateKey(ctx, key) != 1) return 0;
    if (chain && sk_X509_num(chain) > 0 && SSL_CTX_set1_chain(ctx, chain) != 1) return 0;
    return SSL_CTX_check_private_key(ctx) == 1 ? 1 : 0;
}

}  // namespace tls
