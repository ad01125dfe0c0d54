// Per-client settings as requests show them: restart offsets, cleared
// headers, credentials switched off, and the transfer figures of a body read
// part of the way.
#include <string>

#include "http/client.h"
#include "tests/http/http_test_support.h"

namespace {

using namespace httptest;

using HttpSettingsTest = HttpTest;

std::string RequestHeader(HttpClient client, const char* name) {
    char value[256] = {};
    int length = sizeof value;
    if (!HttpGetRequestHeader(client, name, value, &length)) return "<none>";
    return value;
}

TEST_F(HttpSettingsTest, RestartOffsetsAndClearedHeadersShapeTheNextRequest) {
    PeerScript script;
    ExpectRequest(script, "GET /f HTTP/1.1",
                  {"Range: bytes=1000-", "X-A: 1", "Host: ", "Accept: */*"})
        .Send("HTTP/1.1 206 Partial Content\r\nContent-Length: 2\r\n\r\nab");
    ExpectRequest(script, "GET /g HTTP/1.1", {"Host: ", "Accept: */*"})
        .Send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    ScriptedPeer peer(script);
    HttpClient client = ConnectTo(peer, {.options = HTTP_OPTION_KEEPALIVE});
    ASSERT_NE(client, INVALID_HTTP_CLIENT);
    EXPECT_TRUE(FailsWith(fileErrorInvalidContentRange, HttpSetRestartOffset(client, UINT64_MAX)));
    ASSERT_EQ(HttpSetRestartOffset(client, 1000), 0);
    EXPECT_EQ(RequestHeader(client, "range"), "bytes=1000-");
    ASSERT_EQ(HttpSetRequestHeader(client, "X-A", "1"), 0);
    ASSERT_EQ(HttpSetCredentials(client, "u", "p"), 0);
    ASSERT_EQ(HttpSetCredentials(client, "", nullptr), 0);  // Basic authentication off again
    EXPECT_EQ(HttpSendRequest(client, "GET", "/f"), 206);
    EXPECT_EQ(ReadBody(client), "ab");
    EXPECT_EQ(HttpFinishRequest(client), 0);

    ASSERT_EQ(HttpSetRestartOffset(client, 0), 0);
    EXPECT_EQ(RequestHeader(client, "Range"), "<none>");
    ASSERT_EQ(HttpClearHeaders(client, 0), 0);
    EXPECT_EQ(RequestHeader(client, "X-A"), "<none>");
    EXPECT_TRUE(FailsWith(fileErrorInvalidParameter, HttpClearHeaders(client, 2)));
    EXPECT_TRUE(FailsWith(fileErrorInvalidParameter, HttpSetRequestHeader(client, "", "v")));
    EXPECT_EQ(HttpSendRequest(client, "GET", "/g"), 200);
    ASSERT_EQ(HttpClearHeaders(client, 1), 0);
    int length = 0;
    EXPECT_EQ(HttpGetResponseHeader(client, "Content-Length", nullptr, &length), 0);
    NetAddress local{};
    EXPECT_EQ(HttpGetLocalAddress(client, 0, &local), NET_FAMILY_IPV4);
    EXPECT_EQ(local.address[0], 127);
    EXPECT_EQ(local.address[3], 1);
    EXPECT_EQ(HttpEnableCompression(client, TRUE), 0);
    EXPECT_TRUE(http::LookupClient(client)->compression);
    EXPECT_EQ(HttpDisconnect(client), 0);
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(HttpSettingsTest, TransferFiguresOfAPartlyReadBody) {
    PeerScript script;
    script.Expect("GET ").Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" +
                               std::string(40, 'x'));
    script.Stall(2000).Close();
    ScriptedPeer peer(script);
    HttpClient client = ConnectTo(peer);
    ASSERT_NE(client, INVALID_HTTP_CLIENT);
    HttpTransferStatus status{};
    EXPECT_EQ(HttpGetTransferStatus(client, &status), 1);
    EXPECT_EQ(status.totalBytes, 0u);  // nothing started yet
    EXPECT_EQ(HttpGetTransferStatus(client, nullptr), 0);
    EXPECT_EQ(HttpSendRequest(client, "GET", "/"), 200);
    char buffer[64];
    EXPECT_EQ(HttpRecv(client, buffer, sizeof buffer), 40);
    EXPECT_EQ(HttpGetTransferStatus(client, &status), 1);
    EXPECT_EQ(status.totalBytes, 100u);
    EXPECT_EQ(status.bytesCopied, 40u);
    EXPECT_EQ(status.elapsedSeconds, 0u);
    EXPECT_EQ(status.bytesPerSecond, 0u);
    EXPECT_EQ(status.secondsLeft, 0u);
    // An unread body closes the connection when the request ends.
    EXPECT_EQ(HttpFinishRequest(client), 0);
    EXPECT_TRUE(http::LookupClient(client)->closed);
    EXPECT_TRUE(FailsWith(fileErrorConnectionClosed, HttpRecv(client, buffer, 1)));
    EXPECT_EQ(HttpDisconnect(client), 0);
}

}  // namespace
