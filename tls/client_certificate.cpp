#include "tls/client_certificate.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/last_error_guard.h"
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

// 1, or 0 with the store's error: 10002 when the file cannot be opened, 10005
// when it is not a PKCS #12 file, 12103 when it cannot be imported (a wrong
// password).
int LoadPkcs12(const fs::path& path, const char* password, ClientIdentity& identity) {
    BIO* file = BIO_new_file(path.c_str(), "rb");
    if (!file) return Fail(fileErrorFileNotFound);
    PKCS12* bundle = d2i_PKCS12_bio(file, nullptr);
    BIO_free(file);
    if (!bundle) return Fail(fileErrorInvalidFileType);
    bool parsed =
        PKCS12_parse(bundle, password, &identity.key, &identity.certificate, &identity.chain) == 1;
    PKCS12_free(bundle);
    if (!parsed) return Fail(fileErrorSecurityCredentials);
    int length = 0;
    const unsigned char* alias =
        identity.certificate ? X509_alias_get0(identity.certificate, &length) : nullptr;
    identity.friendlyName =
        alias ? std::string(reinterpret_cast<const char*>(alias), static_cast<std::size_t>(length))
              : path.stem().string();
    return 1;
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
        case FileKind::Pkcs12: {
            LastErrorGuard<&LastError, &Fail>
                keepError;  // a bad file in a folder is skipped quietly
            return LoadPkcs12(path, password, identity) == 1;
        }
        case FileKind::Pem:
            return LoadPem(path, password, identity);
        case FileKind::Other:
            break;
    }
    return false;
}

}  // namespace

int LoadStore(const StoreLocation& location, const char* password,
              std::vector<ClientIdentity>& found) {
    found.clear();
    if (location.kind == StoreLocation::Kind::Invalid) return Fail(location.error);
    if (location.kind == StoreLocation::Kind::Pkcs12File) {
        ClientIdentity identity;
        if (!LoadPkcs12(location.path, password, identity)) return 0;
        if (!identity.complete()) return Fail(fileErrorSecurityCredentials);
        found.push_back(std::move(identity));
        return 1;
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
    return 1;
}

namespace {

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
    // The PFX-file location takes the text as a file's path, whether it is there or not.
    if (credentials.location & TLS_STORE_PFX_FILE) {
        if (text.empty()) return {StoreLocation::Kind::Invalid, {}, fileErrorInvalidFileName};
        return {StoreLocation::Kind::Pkcs12File, std::string(text)};
    }
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

int LoadClientIdentity(const TlsCredentials& credentials, ClientIdentity& identity,
                       std::vector<ClientIdentity>* store) {
    std::string_view name = credentials.certificateName ? credentials.certificateName : "";
    if (name.empty()) return Fail(fileErrorSecurityCredentials);
    std::vector<ClientIdentity> candidates;
    int loaded = LoadStore(ResolveCertificateStore(credentials), Password(credentials), candidates);
    ERR_clear_error();
    if (!loaded) return 0;
    std::size_t chosen = Pick(candidates, name);
    if (chosen == candidates.size()) return Fail(fileErrorSecurityCredentials);
    identity = std::move(candidates[chosen]);
    if (store) {
        candidates.erase(candidates.begin() + static_cast<std::ptrdiff_t>(chosen));
        *store = std::move(candidates);
    }
    return 1;
}

namespace {

bool Accepted(const STACK_OF(X509_NAME) * issuers, const X509_NAME* name) {
    for (int i = 0; i < sk_X509_NAME_num(issuers); ++i) {
        if (X509_NAME_cmp(sk_X509_NAME_value(issuers, i), name) == 0) return true;
    }
    return false;
}

// True when the certificate or one in its chain was issued by a name the server
// accepts.
bool ChainAccepted(const STACK_OF(X509_NAME) * issuers, X509* certificate, STACK_OF(X509) * chain) {
    if (Accepted(issuers, X509_get_issuer_name(certificate))) return true;
    for (int i = 0; i < sk_X509_num(chain); ++i) {
        X509* link = sk_X509_value(chain, i);
        if (Accepted(issuers, X509_get_issuer_name(link)) ||
            Accepted(issuers, X509_get_subject_name(link))) {
            return true;
        }
    }
    return false;
}

}  // namespace

void SelectAcceptedCertificate(SSL* ssl, const std::vector<ClientIdentity>& store) {
    const STACK_OF(X509_NAME)* issuers = SSL_get_client_CA_list(ssl);
    if (sk_X509_NAME_num(issuers) <= 0) return;  // the server names none: any will do
    if (X509* current = SSL_get_certificate(ssl)) {
        STACK_OF(X509)* currentChain = nullptr;
        SSL_get0_chain_certs(ssl, &currentChain);
        if (ChainAccepted(issuers, current, currentChain)) return;
    }
    for (const ClientIdentity& candidate : store) {
        if (X509_check_purpose(candidate.certificate, X509_PURPOSE_SSL_CLIENT, 0) != 1) continue;
        if (!ChainAccepted(issuers, candidate.certificate, candidate.chain)) continue;
        if (SSL_use_cert_and_key(ssl, candidate.certificate, candidate.key, candidate.chain, 1) ==
            1) {
            return;
        }
    }
    ERR_clear_error();
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
