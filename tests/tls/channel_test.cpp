// The channel over a real socket: handshakes and record traffic with TLS 1.2
// and 1.3, the end of the stream, time-outs, cancellation, hostile peers and
// the protocol mask.
#include <gtest/gtest.h>

#include "resources/errors.h"
#include "tls_test_support.h"

namespace {

using tlstest::Behaviour;
using tlstest::Client;
using tlstest::Credentials;
using tlstest::ServerConfig;
using tlstest::TlsTestServer;

class ChannelByVersion : public ::testing::TestWithParam<int> {
  protected:
    ServerConfig Config(Behaviour behaviour = Behaviour::Echo) const {
        ServerConfig config;
        config.lowestVersion = config.highestVersion = GetParam();
        config.behaviour = behaviour;
        return config;
    }
};

// The security information shows what was negotiated; small and large messages
// echo whatever the piece size of the reads.
TEST_P(ChannelByVersion, NegotiatesAndEchoesMessagesInAnyPieceSize) {
    TlsTestServer server(Config());
    Credentials credentials;
    Client client(server.port(), credentials.record);
    ASSERT_EQ(client.Handshake(), 1) << TlsGetLastError();
    ASSERT_EQ(TlsValidateCertificate(client.channel()), 1);
    SecurityInfo info{};
    info.size = TLS_SECURITY_INFO_SIZE;
    ASSERT_EQ(TlsGetSecurityInfo(client.channel(), &info), 1);
    EXPECT_EQ(info.protocol, 8u);
    EXPECT_EQ(info.cipher, 64u);  // AES-256-GCM is both versions' first choice here
    EXPECT_EQ(info.cipherStrength, 256u);
    EXPECT_EQ(info.hash, 2u);  // SHA-384
    EXPECT_EQ(info.hashStrength, 384u);
    EXPECT_EQ(info.keyExchange, 8u);  // ECDHE
    EXPECT_STREQ(info.subject, "CN=localhost, O=Channel Tests");
    EXPECT_STREQ(info.issuer, "CN=Channel Test CA, O=Channel Tests");
    // The certificate's dates and status are the real servers'
    // (tests/integration/ftps_test.cpp).
    EXPECT_EQ(client.RoundTrip("USER fttest\r\n", 1), "USER fttest\r\n");
    // Several records per message, read in pieces that never line up with them.
    std::string block;
    for (int i = 0; i < 40000; ++i)
        block += static_cast<char>('a' + i % 23);
    for (int round = 0; round < 5; ++round)
        EXPECT_EQ(client.RoundTrip(block, 1000), block);
    EXPECT_EQ(TlsShutdown(client.channel()), 1);
}

TEST_P(ChannelByVersion, GatheredWritesTravelInWholeRecordsAndNothingIsLeftBehind) {
    TlsTestServer server(Config(Behaviour::Sink));
    Credentials credentials;
    Client client(server.port(), credentials.record);
    ASSERT_EQ(client.Handshake(), 1) << TlsGetLastError();
    std::string block(40000, 'g');  // the longest write below
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(TlsEncryptGathered(client.channel(), block.data(), 8192), 8192);
    ASSERT_EQ(TlsEncryptGathered(client.channel(), block.data(), 40000), 40000);
    ASSERT_EQ(TlsFlush(client.channel()), 1);
    ASSERT_EQ(TlsEncryptGathered(client.channel(), block.data(), 100), 100);
    EXPECT_EQ(TlsEncrypt(client.channel(), "now", 3), 3);  // goes after the kept bytes
    ASSERT_EQ(TlsEncryptGathered(client.channel(), block.data(), 5000), 5000);
    EXPECT_EQ(TlsShutdown(client.channel()), 1);  // sends the kept bytes first
    server.Join();
    std::vector<int> expected{16384, 16384, 16384, 16384, 15424, 100, 3, 5000};
    EXPECT_EQ(server.recordSizes, expected);
}

// With or without the peer's close-notify, the stream ends after the buffered
// bytes, and stays ended.
TEST_P(ChannelByVersion, ThePeersCloseEndsTheStreamAfterTheBufferedBytes) {
    for (Behaviour behaviour : {Behaviour::GreetThenClose, Behaviour::GreetThenHangUp}) {
        TlsTestServer server(Config(behaviour));
        Credentials credentials;
        Client client(server.port(), credentials.record);
        ASSERT_EQ(client.Handshake(), 1) << TlsGetLastError();
        EXPECT_EQ(client.ReadAll(3), "220 ready\r\n");
        char c;
        EXPECT_EQ(TlsDecrypt(client.channel(), &c, 1), 0);
    }
}

TEST_P(ChannelByVersion, EndingTheSecureChannelLeavesTheSocketInClearText) {
    ServerConfig config = Config(Behaviour::GreetThenClear);
    TlsTestServer server(config);
    Credentials credentials;
    Client client(server.port(), credentials.record);
    ASSERT_EQ(client.Handshake(), 1) << TlsGetLastError();
    char greeting[11];
    int got = 0;
    while (got < 11) {
        int n = TlsDecrypt(client.channel(), greeting + got, 11 - got);
        ASSERT_GT(n, 0);
        got += n;
    }
    long long start = tlstest::NowMs();
    EXPECT_EQ(TlsEndSecureChannel(client.channel()), 1);
    EXPECT_LT(tlstest::NowMs() - start, 1000);  // the peer's close-notify ended the wait
    // The next bytes on the socket are the server's clear text, nothing of TLS.
    std::string plain;
    char buffer[64];
    for (int rounds = 0; rounds < 50 && plain.size() < config.clearText.size(); ++rounds) {
        NetSocketSet readable(client.socket());
        NetTimeval second{1, 0};
        if (NetSelect(&readable, nullptr, nullptr, &second) <= 0) break;
        int n = NetRecv(client.socket(), buffer, sizeof buffer, 0);
        if (n <= 0) break;
        plain.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(plain, config.clearText);
    char c;
    EXPECT_EQ(TlsEncrypt(client.channel(), "x", 1), -1);
    EXPECT_EQ(TlsDecrypt(client.channel(), &c, 1), -1);
}

INSTANTIATE_TLS_VERSIONS(ChannelByVersion);

struct ObservedWaits {
    std::vector<int> errors;
    static void Record(void* context, int error) {
        static_cast<ObservedWaits*>(context)->errors.push_back(error);
    }
};

// A stalled handshake ends at the time-out, or at once when a handler cancels the
// blocking call; the wait observer hears the one error.
TEST(ChannelWaits, AStalledHandshakeEndsByTimeOutOrCancel) {
    const struct {
        bool cancel;
        int timeoutSeconds, error;
        long long atLeastMs, belowMs;
    } cases[] = {{false, 1, fileErrorOperationTimeout, 900, 2500},
                 {true, 5, fileErrorOperationCanceled, 0, 1500}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cancel);
        ServerConfig config;
        config.behaviour = Behaviour::Stall;
        TlsTestServer server(config);
        Credentials credentials;
        Client client(server.port(), credentials.record, c.timeoutSeconds);
        ObservedWaits observed;
        TlsSetWaitObserver(client.channel(), &ObservedWaits::Record, &observed);
        tlstest::TestWindow window([](UINT, WPARAM, LPARAM) {
            EXPECT_EQ(NetCancelBlockingCall(), 0);
            return LRESULT{0};
        });
        if (c.cancel) {
            ASSERT_TRUE(PostMessageA(window.hwnd(), WM_USER + 1, 0, 0));
        }
        const long long start = tlstest::NowMs();
        EXPECT_EQ(client.Handshake(), 0);
        const long long elapsed = tlstest::NowMs() - start;
        EXPECT_EQ(TlsGetLastError(), c.error);
        EXPECT_GE(elapsed, c.atLeastMs);
        EXPECT_LT(elapsed, c.belowMs);
        EXPECT_EQ(observed.errors, std::vector<int>{c.error});
    }
}

TEST(ChannelWaits, ADecryptWaitTimesOutWhenThePeerSendsNothing) {
    TlsTestServer server(ServerConfig{});  // echoes, so it never speaks first
    Credentials credentials;
    Client client(server.port(), credentials.record, 1);
    ASSERT_EQ(client.Handshake(), 1);
    char buffer[16];
    EXPECT_EQ(TlsDecrypt(client.channel(), buffer, sizeof buffer), -1);
    EXPECT_EQ(TlsGetLastError(), fileErrorOperationTimeout);
}

// Garbage, a hang-up or a version outside our range fails the handshake; the
// failed channel carries no records and has no security information.
TEST(ChannelFailures, HostilePeersFailTheHandshake) {
    for (Behaviour behaviour : {Behaviour::Garbage, Behaviour::HangUp, Behaviour::Echo}) {
        SCOPED_TRACE(static_cast<int>(behaviour));
        ServerConfig config;
        config.behaviour = behaviour;
        if (behaviour == Behaviour::Echo)
            config.lowestVersion = config.highestVersion = TLS1_1_VERSION;
        TlsTestServer server(config);
        Credentials credentials;
        Client client(server.port(), credentials.record);
        EXPECT_EQ(client.Handshake(), 0);
        EXPECT_EQ(TlsGetLastError(), fileErrorSecurityContext);
        char c = 'x';
        EXPECT_EQ(TlsEncrypt(client.channel(), &c, 1), -1);
        EXPECT_EQ(TlsGetLastError(), fileErrorSecurityEncryption);
        SecurityInfo info{};
        info.size = TLS_SECURITY_INFO_SIZE;
        EXPECT_EQ(TlsGetSecurityInfo(client.channel(), &info), 0);
        EXPECT_EQ(TlsGetLastError(), fileErrorSecurityContext);
    }
}

// Masks of SSL versions alone give no credentials; the TLS bit, with or without
// SSL bits, and the default reach TLS 1.2 and 1.3.
TEST(ProtocolMask, OnlyTlsVersionsCanBeHad) {
    for (uint32_t mask : {1u, 2u, 3u, 4u, 7u}) {
        Credentials credentials(mask);
        TlsChannel* channel =
            TlsCreateChannel(INVALID_SOCKET, "localhost", credentials.record, 1, 0);
        EXPECT_EQ(TlsAcquireCredentials(channel), 0) << mask;
        EXPECT_EQ(TlsGetLastError(), fileErrorSecurityCredentials) << mask;
        EXPECT_EQ(TlsStartHandshake(channel), 0) << mask;
        EXPECT_EQ(TlsGetLastError(), fileErrorSecurityCredentials) << mask;
        TlsFreeChannel(channel);
    }
    for (uint32_t mask : {8u, 10u, 0u}) {
        for (int version : {TLS1_2_VERSION, TLS1_3_VERSION}) {
            ServerConfig config;
            config.lowestVersion = config.highestVersion = version;
            TlsTestServer server(config);
            Credentials credentials(mask);
            Client client(server.port(), credentials.record);
            EXPECT_EQ(client.Handshake(), 1) << mask << " " << version;
        }
    }
}

TEST(ChannelArguments, NullsAndMissingNamesAreRefused) {
    char c;
    EXPECT_EQ(TlsDecrypt(nullptr, &c, 1), -1);
    EXPECT_EQ(TlsGetLastError(), fileErrorInvalidParameter);
    EXPECT_EQ(TlsEncrypt(nullptr, &c, 1), -1);
    EXPECT_EQ(TlsCreateCredentials(8, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(TlsGetLastError(), fileErrorInvalidParameter);
    SecurityInfo small{};
    small.size = 87;
    TlsChannel* channel = TlsCreateChannel(INVALID_SOCKET, "", nullptr, 1, 0);
    EXPECT_EQ(TlsGetSecurityInfo(channel, &small), 0);
    EXPECT_EQ(TlsGetLastError(), fileErrorInvalidParameter);
    EXPECT_EQ(TlsStartHandshake(channel), 0);
    EXPECT_EQ(TlsGetLastError(), fileErrorInvalidHostName);
    // Validating without a handshake is a certificate error.
    EXPECT_EQ(TlsValidateCertificate(channel), 0);
    EXPECT_EQ(TlsGetLastError(), fileErrorSecurityCertificate);
    TlsFreeChannel(channel);
}

}  // namespace
