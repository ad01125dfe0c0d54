// A second channel resumes the first one's session, as FTP data connections
// must with servers that insist on it; checked on the server's side.
#include <gtest/gtest.h>

#include "resources/errors.h"
#include "tls_test_support.h"

namespace {

using tlstest::Client;
using tlstest::Credentials;
using tlstest::ServerConfig;
using tlstest::TlsTestServer;

class Resumption : public ::testing::TestWithParam<int> {
  protected:
    ServerConfig Config(int connections) const {
        ServerConfig config;
        config.lowestVersion = config.highestVersion = GetParam();
        config.connections = connections;
        return config;
    }
};

TEST_P(Resumption, DataChannelsResumeTheControlChannelsSession) {
    TlsTestServer server(Config(4));
    Credentials credentials;
    Client control(server.port(), credentials.record);
    ASSERT_EQ(control.Handshake(), 1);
    // The first reply read on the control channel also takes in the tickets
    // that TLS 1.3 sends after the handshake.
    EXPECT_EQ(control.RoundTrip("FEAT\r\n", 1), "FEAT\r\n");
    for (int transfer = 0; transfer < 2; ++transfer) {
        Client data(server.port(), credentials.record);
        ASSERT_EQ(TlsResumeSessionOf(data.channel(), control.channel()), 1);
        ASSERT_EQ(data.Handshake(), 1) << TlsGetLastError();
        EXPECT_EQ(TlsValidateCertificate(data.channel()), 1);
        EXPECT_EQ(data.RoundTrip("data"), "data");
        EXPECT_EQ(TlsShutdown(data.channel()), 1);
    }
    {
        Client unrelated(server.port(), credentials.record);
        ASSERT_EQ(unrelated.Handshake(), 1);
        EXPECT_EQ(unrelated.RoundTrip("x"), "x");
    }
    EXPECT_EQ(control.RoundTrip("QUIT\r\n"), "QUIT\r\n");
    EXPECT_EQ(TlsShutdown(control.channel()), 1);
    server.Join();
    EXPECT_EQ(server.resumed, (std::vector<int>{0, 1, 1, 0}));
}

TEST(ResumptionSource, WithoutASessionItCannotBeResumed) {
    Credentials credentials;
    TlsChannel* fresh = TlsCreateChannel(INVALID_SOCKET, "localhost", credentials.record, 1, 0);
    TlsChannel* data = TlsCreateChannel(INVALID_SOCKET, "localhost", credentials.record, 1, 0);
    EXPECT_EQ(TlsResumeSessionOf(data, fresh), 0);
    EXPECT_EQ(TlsGetLastError(), fileErrorSecurityContext);
    EXPECT_EQ(TlsResumeSessionOf(data, nullptr), 0);
    EXPECT_EQ(TlsGetLastError(), fileErrorInvalidParameter);
    TlsFreeChannel(fresh);
    TlsFreeChannel(data);
}

INSTANTIATE_TLS_VERSIONS(Resumption);

}  // namespace
