// Validation of the server's certificate against the trust store and the name
// connected to. A failure does not end the channel: the engines keep the
// connection and report the status.
#include <openssl/err.h>
#include <openssl/x509_vfy.h>

#include "resources/errors.h"
#include "tls/channel.h"

namespace tls {
namespace {

struct StatusEntry {
    long verifyError;
    uint32_t status;
};

// fileCertificate values: 1 valid, 2 name mismatch, 3 expired, 4 revoked,
// 5 untrusted, 6 anything else.
constexpr StatusEntry kStatuses[] = {
    {X509_V_OK, 1},
    {X509_V_ERR_HOSTNAME_MISMATCH, 2},
    {X509_V_ERR_IP_ADDRESS_MISMATCH, 2},
    {X509_V_ERR_CERT_HAS_EXPIRED, 3},
    {X509_V_ERR_CERT_NOT_YET_VALID, 3},
    {X509_V_ERR_CERT_REVOKED, 4},
    {X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, 5},
    {X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN, 5},
    {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT, 5},
    {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, 5},
    {X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE, 5},
    {X509_V_ERR_CERT_UNTRUSTED, 5},
    {X509_V_ERR_CERT_REJECTED, 5},
    {X509_V_ERR_INVALID_CA, 5},
};
constexpr uint32_t kOtherFailure = 6;

// The system trust store, or the SSL_CERT_FILE / SSL_CERT_DIR the environment
// names instead; loaded once per context.
X509_STORE* TrustStore(ClientContext& context) {
    X509_STORE* store = SSL_CTX_get_cert_store(context.ctx);
    if (!context.trustStoreLoaded && store) {
        X509_STORE_set_default_paths(store);
        context.trustStoreLoaded = true;
    }
    return store;
}

// The verification error of the peer's chain for `name`, or -1 when the check
// itself could not run.
long Verify(TlsChannel& channel, X509* leaf, const std::string& name) {
    X509_STORE* store = TrustStore(*channel.context);
    X509_STORE_CTX* check = X509_STORE_CTX_new();
    if (!store || !check) return X509_STORE_CTX_free(check), -1;
    long verifyError = -1;
    if (X509_STORE_CTX_init(check, store, leaf, SSL_get_peer_cert_chain(channel.ssl)) == 1 &&
        X509_STORE_CTX_set_default(check, "ssl_server") == 1) {
        X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(check);
        bool address = NetAddressFamilyOf(name.c_str()) != NET_FAMILY_NONE;
        int named = address ? X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str())
                            : X509_VERIFY_PARAM_set1_host(param, name.c_str(), name.size());
        if (named == 1) {
            verifyError =
                X509_verify_cert(check) == 1 ? X509_V_OK : X509_STORE_CTX_get_error(check);
        }
    }
    X509_STORE_CTX_free(check);
    ERR_clear_error();
    return verifyError;
}

}  // namespace

uint32_t CertificateStatusOf(long verifyError) {
    for (const StatusEntry& entry : kStatuses) {
        if (entry.verifyError == verifyError) return entry.status;
    }
    return kOtherFailure;
}

}  // namespace tls

using tls::Fail;

extern "C" {

int TlsValidateCertificate(TlsChannel* channel) {
    if (!channel) return Fail(fileErrorInvalidParameter);
    if (!tls::IsBound()) return Fail(fileErrorSecurityNotInitialized);
    if (channel->options & tls::kOptionNoValidation) {
        channel->validationStatus = X509_V_OK;
        return 1;
    }
    X509* leaf = channel->ssl ? SSL_get0_peer_certificate(channel->ssl) : nullptr;
    if (!leaf || !channel->context) return Fail(fileErrorSecurityCertificate);
    std::string name = tls::TargetName(*channel);
    if (name.empty()) return Fail(fileErrorInvalidHostName);
    long verifyError = tls::Verify(*channel, leaf, name);
    channel->validationStatus = verifyError < 0 ? X509_V_ERR_UNSPECIFIED : verifyError;
    return verifyError == X509_V_OK ? 1 : Fail(fileErrorSecurityCertificate);
}

}  // extern "C"
