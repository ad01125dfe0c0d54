// The security information record: what the handshake negotiated, in the
// control's constants, and the server certificate's texts and validity.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstring>
#include <ctime>

#include "net/transcript.h"
#include "resources/errors.h"
#include "tls/channel.h"

namespace tls {
namespace {

constexpr uint32_t kOther = 4096;

struct Mapping {
    int key;
    uint32_t value;
};

uint32_t Lookup(const Mapping* begin, const Mapping* end, int key) {
    for (const Mapping* entry = begin; entry != end; ++entry) {
        if (entry->key == key) return entry->value;
    }
    return kOther;
}

template <std::size_t N>
uint32_t Lookup(const Mapping (&table)[N], int key) {
    return Lookup(table, table + N, key);
}

// fileProtocol values by protocol version: every TLS version reads as 8.
constexpr Mapping kProtocols[] = {
    {SSL3_VERSION, 2},   {TLS1_VERSION, 8},   {TLS1_1_VERSION, 8},
    {TLS1_2_VERSION, 8}, {TLS1_3_VERSION, 8},
};

// fileCipher values by the cipher's NID.
constexpr Mapping kCiphers[] = {
    {NID_des_cbc, 8},      {NID_rc2_cbc, 1},      {NID_des_ede3_cbc, 16}, {NID_des_ede_cbc, 16},
    {NID_desx_cbc, 32},    {NID_rc5_cbc, 4},      {NID_rc4, 2},           {NID_aes_128_cbc, 64},
    {NID_aes_192_cbc, 64}, {NID_aes_256_cbc, 64}, {NID_aes_128_gcm, 64},  {NID_aes_256_gcm, 64},
    {NID_aes_128_ccm, 64}, {NID_aes_256_ccm, 64},
};

// fileHash values by the digest's NID.
constexpr Mapping kHashes[] = {
    {NID_md5, 1}, {NID_sha1, 2}, {NID_sha256, 2}, {NID_sha384, 2}, {NID_sha512, 2},
};

// fileKeyExchange values by the key-exchange NID of the cipher suite.
constexpr Mapping kKeyExchanges[] = {
    {NID_kx_rsa, 1},     {NID_kx_rsa_psk, 1}, {NID_kx_dhe, 4},
    {NID_kx_dhe_psk, 4}, {NID_kx_ecdhe, 8},   {NID_kx_ecdhe_psk, 8},
};

// TLS 1.3 suites leave the key exchange to the negotiated group.
constexpr Mapping kGroups[] = {
    {NID_ffdhe2048, 4}, {NID_ffdhe3072, 4}, {NID_ffdhe4096, 4},
    {NID_ffdhe6144, 4}, {NID_ffdhe8192, 4},
};
constexpr uint32_t kEllipticCurveDh = 8;

uint32_t KeyExchangeOf(SSL* ssl, const SSL_CIPHER* cipher) {
    int kx = SSL_CIPHER_get_kx_nid(cipher);
    if (kx != NID_kx_any) return Lookup(kKeyExchanges, kx);
    uint32_t group = Lookup(kGroups, SSL_get_negotiated_group(ssl) & ~TLSEXT_nid_unknown);
    return group == kOther ? kEllipticCurveDh : group;
}

// The MAC digest of the suite; AEAD suites have none, and show the digest of
// their handshake instead.
const EVP_MD* HashOf(const SSL_CIPHER* cipher) {
    int nid = SSL_CIPHER_get_digest_nid(cipher);
    if (nid != NID_undef) return EVP_get_digestbynid(nid);
    return SSL_CIPHER_get_handshake_digest(cipher);
}

SYSTEMTIME ToSystemTime(const ASN1_TIME* time) {
    SYSTEMTIME result{};
    std::tm parts{};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1) return result;
    result.wYear = static_cast<WORD>(parts.tm_year + 1900);
    result.wMonth = static_cast<WORD>(parts.tm_mon + 1);
    result.wDayOfWeek = static_cast<WORD>(parts.tm_wday);
    result.wDay = static_cast<WORD>(parts.tm_mday);
    result.wHour = static_cast<WORD>(parts.tm_hour);
    result.wMinute = static_cast<WORD>(parts.tm_min);
    result.wSecond = static_cast<WORD>(parts.tm_sec);
    return result;
}

void FillNegotiated(TlsChannel& channel, SecurityInfo& info) {
    info.protocol = Lookup(kProtocols, SSL_version(channel.ssl));
    const SSL_CIPHER* cipher = SSL_get_current_cipher(channel.ssl);
    if (!cipher) return;
    info.cipher = Lookup(kCiphers, SSL_CIPHER_get_cipher_nid(cipher));
    info.cipherStrength = static_cast<uint32_t>(SSL_CIPHER_get_bits(cipher, nullptr));
    if (const EVP_MD* hash = HashOf(cipher)) {
        info.hash = Lookup(kHashes, EVP_MD_get_type(hash));
        info.hashStrength = static_cast<uint32_t>(EVP_MD_get_size(hash) * 8);
    } else {
        info.hash = kOther;
    }
    info.keyExchange = KeyExchangeOf(channel.ssl, cipher);
}

void FillCertificate(TlsChannel& channel, SecurityInfo& info) {
    info.certificateStatus = CertificateStatusOf(channel.validationStatus);
    channel.issuer.clear();
    channel.subject.clear();
    X509* certificate = SSL_get0_peer_certificate(channel.ssl);
    if (!certificate) return;
    channel.issuer = NameText(X509_get_issuer_name(certificate));
    channel.subject = NameText(X509_get_subject_name(certificate));
    info.issuer = channel.issuer.c_str();
    info.subject = channel.subject.c_str();
    info.validFrom = ToSystemTime(X509_get0_notBefore(certificate));
    info.validUntil = ToSystemTime(X509_get0_notAfter(certificate));
}

bool Negotiated(const TlsChannel& channel) {
    return channel.ssl &&
           (channel.state == ChannelState::Established ||
            channel.state == ChannelState::PeerClosed || channel.state == ChannelState::ShutDown);
}

}  // namespace

void TranscriptSession(const TlsChannel& channel) {
    if (!NetTranscriptActive() || !channel.ssl) return;
    const auto tell = [](const std::string& line) {
        NetTranscriptLines(NET_TRANSCRIPT_INFO, line.data(), line.size());
    };
    const SSL_CIPHER* cipher = SSL_get_current_cipher(channel.ssl);
    tell(std::string("TLS session: ") + SSL_get_version(channel.ssl) + " / " +
         (cipher ? SSL_CIPHER_get_name(cipher) : "(none)"));
    if (X509* certificate = SSL_get0_peer_certificate(channel.ssl)) {
        tell("server certificate subject: " + NameText(X509_get_subject_name(certificate)));
        tell("server certificate issuer: " + NameText(X509_get_issuer_name(certificate)));
    }
}

}  // namespace tls

using tls::Fail;

extern "C" {

int TlsGetSecurityInfo(TlsChannel* channel, SecurityInfo* info) {
    if (!channel || !info || info->size < TLS_SECURITY_INFO_SIZE) {
        return Fail(fileErrorInvalidParameter);
    }
    std::memset(info, 0, sizeof *info);
    info->size = TLS_SECURITY_INFO_SIZE;
    if (!tls::IsBound()) return Fail(fileErrorSecurityNotInitialized);
    if (!tls::Negotiated(*channel)) return Fail(fileErrorSecurityContext);
    tls::FillNegotiated(*channel, *info);
    tls::FillCertificate(*channel, *info);
    return 1;
}

}  // extern "C"
