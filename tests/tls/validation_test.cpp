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

// Status 1 valid, 2 wrong name, 3 expired, 5 untrusted. Host names match without case;
// the credentials' server name replaces the host name. (A valid certificate for
// 127.0.0.1 and option 0x800 are the real servers', http_server_test.cpp.)
TEST(CertificateStatus, EachCertificateAndNameGivesItsStatus) {
    struct Case {
        const Identity* identity;
        const char* hostName;
        const char* serverName;
        uint32_t status;
    } cases[] = {
        {&TestPki().valid, "LOCALHOST", nullptr, 1},
        {&TestPki().valid, "127.0.0.2", nullptr, 2},
        {&TestPki().valid, "elsewhere.example", nullptr, 2},
        {&TestPki().wrongName, "127.0.0.1", "other.example", 1},
        {&TestPki().valid, "127.0.0.1", "other.example", 2},
        {&TestPki().wrongName, "127.0.0.1", nullptr, 2},
        {&TestPki().expired, "127.0.0.1", nullptr, 3},
        {&TestPki().selfSigned, "127.0.0.1", nullptr, 5},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Validated v = Validate(*c.identity, c.hostName, 0, c.serverName);
        EXPECT_EQ(v.status, c.status) << "case " << i;
        EXPECT_EQ(v.result, c.status == 1 ? 1 : 0) << "case " << i;
        EXPECT_EQ(v.error, c.status == 1 ? 0 : fileErrorSecurityCertificate) << "case " << i;
    }
}

}  // namespace
