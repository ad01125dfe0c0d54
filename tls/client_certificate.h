// Client certificates: where a certificate-store text points, and loading the
// certificate (with its private key) that a certificate name picks there.
//
// Store texts: "HKCU:NAME" is the per-user folder $XDG_CONFIG_HOME/tollane/certs/NAME
// (~/.config/tollane/certs/NAME without XDG_CONFIG_HOME), "HKLM:NAME" the system
// folder /etc/tollane/certs/NAME; an empty NAME means "MY". The path of an
// existing file is a PKCS#12 file, the path of an existing folder a
// certificate folder; any other text is a store name of the location that the
// credentials' flags give (current user unless local machine).
#pragma once

#include <openssl/ssl.h>

#include <string>
#include <vector>

#include "resources/errors.h"

#include "tls/tls.h"

namespace tls {

struct StoreLocation {
    enum class Kind { Pkcs12File, Folder, Invalid };
    Kind kind = Kind::Invalid;
    std::string path;
    int error = fileErrorSecurityCredentials;  // why an Invalid store is
};

StoreLocation ResolveCertificateStore(const TlsCredentials& credentials);

// A certificate with its private key and the certificates that follow it.
class ClientIdentity {
  public:
    ClientIdentity() = default;
    ~ClientIdentity();
    ClientIdentity(ClientIdentity&& other) noexcept;
    ClientIdentity& operator=(ClientIdentity&& other) noexcept;
    ClientIdentity(const ClientIdentity&) = delete;
    ClientIdentity& operator=(const ClientIdentity&) = delete;

    X509* certificate = nullptr;
    EVP_PKEY* key = nullptr;
    STACK_OF(X509) * chain = nullptr;
    std::string friendlyName;

    bool complete() const { return certificate && key; }
    // Puts certificate, key and chain into ctx. 1 or 0.
    int InstallInto(SSL_CTX* ctx) const;

  private:
    void Release();
};

// Every usable certificate of the store, in file-name order. 1, or 0 with the
// store's error: what an Invalid location says, 10002/10005/12103 for a PKCS #12
// file that is missing, not PKCS #12 or cannot be imported. A folder's files
// that cannot be used are skipped.
int LoadStore(const StoreLocation& location, const char* password,
              std::vector<ClientIdentity>& found);

// Finds the certificate that credentials.certificateName names in the store of
// the credentials: by friendly name first (case-insensitive), else the first
// whose subject text contains the name. 1, or 0 with the store's error or
// fileErrorSecurityCredentials. The store's other certificates go to *store.
int LoadClientIdentity(const TlsCredentials& credentials, ClientIdentity& identity,
                       std::vector<ClientIdentity>* store = nullptr);

// When the server names the issuers it accepts and the certificate in use is
// not from one of them, puts in the first certificate of the store that is for
// client authentication (1.3.6.1.5.5.7.3.2, or no usage restriction) and chains
// to an accepted issuer. Otherwise leaves the certificate as it is.
void SelectAcceptedCertificate(SSL* ssl, const std::vector<ClientIdentity>& store);

}  // namespace tls
