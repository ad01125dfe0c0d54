// Certificate validation: each kind of server certificate gives its status,
// the channel stays usable after a failed validation, and option 0x800 skips
// the check.
#include <gtest/gtest.h>

#include "resources/errors.h"
#include "tls_test_support.h"

namespace {

using tlstest::Client;
using tlstest::Credentials;
using tlstest::Identity;
using tlstest::ServerConfig;
using tlstest::TestPki;
using tlstest::TlsTestServer;

struct Validated {
    int result;
    int error;
    uint32_t status;
};

Validated Validate(const Identity& identity, const char* hostName, uint32_t options = 0,
                   const char* serverName = nullptr) {
    ServerConfig config;
    config.identity = &identity;
    TlsTestServer server(config);
    TlsCredentials* record = nullptr;
    EXPECT_EQ(TlsCreateCredentials(0, nullptr, nullptr, &record), 1);
    TlsCredentials withName = *record;
    withName.serverName = const_cast<char*>(serverName);
    Client client(server.port(), &withName, 5, options, hostName);
    TlsFreeCredentials(&record);
    EXPECT_EQ(client.Handshake(), 1) << TlsGetLastError();
    Validated validated{};
    validated.result = TlsValidateCertificate(client.channel());
    validated.error = validated.result ? 0 : TlsGetLastError();
    // A bad certificate leaves the channel working.
    EXPECT_EQ(client.RoundTrip("NOOP\r\n"), "NOOP\r\n");
    SecurityInfo info{};
    info.size = TLS_SECURITY_INFO_SIZE;
    EXPECT_EQ(TlsGetSecurityInfo(client.channel(), &info), 1);
    validated.status = info.certificateStatus;
    return validated;
}

TEST(CertificateStatus, ACertificateOfTheTrustedCaForTheAddressIsValid) {
    Validated v = Validate(TestPki().valid, "127.0.0.1");
    EXPECT_EQ(v.result, 1);
    EXPECT_EQ(v.status, 1u);
}

TEST(CertificateStatus, TheHostNameIsCheckedLikeTheAddress) {
    EXPECT_EQ(Validate(TestPki().valid, "localhost").status, 1u);
    EXPECT_EQ(Validate(TestPki().valid, "LOCALHOST").status, 1u);
    EXPECT_EQ(Validate(TestPki().valid, "127.0.0.2").status, 2u);
    EXPECT_EQ(Validate(TestPki().valid, "elsewhere.example").status, 2u);
}

TEST(CertificateStatus, TheCredentialsServerNameReplacesTheHostName) {
    EXPECT_EQ(Validate(TestPki().wrongName, "127.0.0.1", 0, "other.example").status, 1u);
    EXPECT_EQ(Validate(TestPki().valid, "127.0.0.1", 0, "other.example").status, 2u);
}

TEST(CertificateStatus, EachFailureGivesItsStatusAndTheCertificateError) {
    struct Case {
        const Identity* identity;
        uint32_t status;
    } cases[] = {
        {&TestPki().wrongName, 2},
        {&TestPki().expired, 3},
        {&TestPki().selfSigned, 5},
    };
    for (const Case& c : cases) {
        Validated v = Validate(*c.identity, "127.0.0.1");
        EXPECT_EQ(v.result, 0) << c.status;
        EXPECT_EQ(v.error, fileErrorSecurityCertificate) << c.status;
        EXPECT_EQ(v.status, c.status);
    }
}

TEST(CertificateStatus, OptionSkipValidationReportsValidWhateverTheCertificate) {
    for (const Identity* identity : {&TestPki().selfSigned, &TestPki().expired}) {
        Validated v = Validate(*identity, "127.0.0.1", 0x800);
        EXPECT_EQ(v.result, 1);
        EXPECT_EQ(v.status, 1u);
    }
}

TEST(CertificateStatus, WithoutTheCaInTheTrustStoreEverythingIsUntrusted) {
    std::string empty = tlstest::NewFolder("empty-trust");
    tlstest::ScopedEnv file("SSL_CERT_FILE", empty + "/none.pem");
    Validated v = Validate(TestPki().valid, "127.0.0.1");
    EXPECT_EQ(v.error, fileErrorSecurityCertificate);
    EXPECT_EQ(v.status, 5u);
}

TEST(CertificateStatus, ValidatingWithoutAHandshakeIsACertificateError) {
    TlsChannel* channel = TlsCreateChannel(INVALID_SOCKET, "localhost", nullptr, 1, 0);
    EXPECT_EQ(TlsValidateCertificate(channel), 0);
    EXPECT_EQ(TlsGetLastError(), fileErrorSecurityCertificate);
    TlsFreeChannel(channel);
}

}  // namespace
