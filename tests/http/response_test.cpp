// Responses from scripted peers: header text rules, the
// status mapping and its events, redirects, chunked, length- and close-delimited
// bodies, and responses cut short.
#include <sstream>
#include <string>
#include <vector>

#include "net/trace.h"
#include "support/test_files.h"
#include "tests/http/http_test_support.h"

namespace {

using namespace httptest;

using HttpResponseTest = HttpTest;

// A peer that answers one request with the given bytes and then closes.
PeerScript Answer(const std::string& response) {
    PeerScript script;
    script.Expect("GET ").Send(response).Close();
    return script;
}

std::string ResponseHeader(HttpClient client, const char* name) {
    char value[HTTP_MAX_LINE + 1] = {};
    int length = sizeof value;
    if (!HttpGetResponseHeader(client, name, value, &length)) return "<none>";
    return std::string(value, static_cast<std::size_t>(length));
}

TEST_F(HttpResponseTest, QuotedTextKeepsItsBlanksAndLongLinesAreCut) {
    const std::string longValue(40000, 'v');
    ScriptedPeer peer(Answer("HTTP/1.1 200 OK\r\nX-Quoted:   \"a   b\"    c\r\nX-Long: " +
                             longValue + "\r\nX-After: ok\r\nContent-Length: 0\r\n\r\n"));
    HttpClient client = ConnectTo(peer);
    ASSERT_NE(client, INVALID_HTTP_CLIENT);
    EXPECT_EQ(HttpSendRequest(client, "GET", "/"), 200);
    EXPECT_EQ(ResponseHeader(client, "x-quoted"), "\"a   b\" c");
    EXPECT_EQ(ResponseHeader(client, "X-Long"), longValue.substr(0, HTTP_MAX_LINE - 8));
    EXPECT_EQ(ResponseHeader(client, "X-After"), "ok");
    // Length rules of the header getter.
    int length = 0;
    EXPECT_EQ(HttpGetResponseHeader(client, "X-After", nullptr, &length), 1);
    EXPECT_EQ(length, 2);
    char small[2] = {};
    length = sizeof small;
    EXPECT_TRUE(FailsWith(fileErrorInvalidParameter,
                          HttpGetResponseHeader(client, "X-After", small, &length)));
    EXPECT_EQ(HttpGetResponseHeader(client, "X-After", nullptr, nullptr), 1);
    EXPECT_TRUE(FailsWith(fileErrorInvalidMessageHeader,
                          HttpGetResponseHeader(client, "X-Missing", nullptr, nullptr)));
    HttpDisconnect(client);
}

struct StatusCase {
    const char* name;
    int status;
    DWORD options;
    int result;  // of HttpSendRequest
    int error;   // the last error and the error of the command event
};

class StatusTest : public HttpTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusTest, MapsTheStatusAndRaisesTheCommandEvent) {
    const StatusCase& c = GetParam();
    ScriptedPeer peer(
        Answer("HTTP/1.1 " + std::to_string(c.status) + " Whatever\r\nContent-Length: 0\r\n\r\n"));
    EventWindow events;
    HttpClient client = ConnectTo(peer, {.options = c.options});
    ASSERT_NE(client, INVALID_HTTP_CLIENT);
    ASSERT_EQ(HttpRegisterNotify(client, events.handle(), kEventMessage, kCallEvents), 0);
    HttpSetLastError(0);
    EXPECT_EQ(HttpSendRequest(client, "GET", "/"), c.result);
    EXPECT_EQ(HttpGetLastError(), c.error == 0 ? 0u : MakeErrorCode(c.error));
    EXPECT_EQ(EventWindow::Of(HTTP_EVENT_COMMAND),
              std::vector<DWORD>{EventWindow::Word(c.error, HTTP_EVENT_COMMAND)});
    EXPECT_EQ(HttpGetResultCode(client), c.status);
    HttpDisconnect(client);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, StatusTest,
    ::testing::Values(StatusCase{"NotFound", 404, 0, -1, fileErrorResourceNotFound},
                      StatusCase{"NotFoundWithoutErrors", 404, HTTP_OPTION_NOERRORS, 404, 0},
                      StatusCase{"Unlisted418", 418, 0, -1, fileErrorUnexpectedServerResponse},
                      StatusCase{"Unlisted299", 299, 0, 299, 0},
                      StatusCase{"Forbidden", 403, 0, -1, fileErrorAccessDenied},
                      StatusCase{"ServerError", 500, 0, -1, fileErrorInvalidServerResponse},
                      StatusCase{"RedirectNotFollowed", 302, 0, 302, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// Each hop answers with a redirect to the next path; the last one with 200.
std::vector<PeerScript> RedirectChain(int redirects) {
    std::vector<PeerScript> scripts;
    for (int hop = 0; hop <= redirects; ++hop) {
        PeerScript script;
        script.Expect("GET /hop" + std::to_string(hop) + " ");
        script.Send(hop == redirects
                        ? "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\ndone"
                        : "HTTP/1.1 302 Found\r\nLocation: /hop" + std::to_string(hop + 1) +
                              "\r\nContent-Length: 0\r\n\r\n");
        scripts.push_back(script);
    }
    return scripts;
}

TEST_F(HttpResponseTest, RedirectsAreFollowedFourTimesAndTheFifthFails) {
    for (int redirects : {4, 5}) {
        SCOPED_TRACE(redirects);
        std::vector<PeerScript> scripts = RedirectChain(redirects);
        // The fifth redirect is not followed.
        if (redirects == 5) scripts.pop_back();
        ScriptedPeer peer(scripts);
        EventWindow events;
        HttpClient client = ConnectTo(peer, {.options = HTTP_OPTION_REDIRECT});
        ASSERT_NE(client, INVALID_HTTP_CLIENT);
        ASSERT_EQ(HttpRegisterNotify(client, events.handle(), kEventMessage, kCallEvents), 0);
        const int result = HttpSendRequest(client, "GET", "/hop0");
        if (redirects == 4) {
            EXPECT_EQ(result, 200);
            EXPECT_EQ(ReadBody(client), "done");
            EXPECT_EQ(EventWindow::Of(HTTP_EVENT_REDIRECT).size(), 4u);
        } else {
            EXPECT_TRUE(FailsWith(fileErrorResourceRedirected, result));
            EXPECT_EQ(EventWindow::Of(HTTP_EVENT_COMMAND).back(),
                      EventWindow::Word(fileErrorResourceRedirected, HTTP_EVENT_COMMAND));
        }
        HttpDisconnect(client);
        EXPECT_EQ(peer.Finish(), "");
    }
}

// The exchange's states are traced on the way, trailer included.
TEST_F(HttpResponseTest, ChunkedBodyIsReadToItsEndAndTheConnectionServesAgain) {
    ScratchFolder folder("http-trace");
    const std::string trace = (folder / "trace.txt").string();
    ASSERT_EQ(NetTraceOn(trace.c_str(), NET_TRACE_INFO), 1);
    const std::string first(26, 'a');
    PeerScript script;
    ExpectRequest(script, "GET /chunked HTTP/1.1", {"Host: ", "Accept: */*"})
        .Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n1a;ext=1\r\n" + first +
              "\r\n5\r\nhello\r\n0\r\nX-Trailer: t\r\n\r\n");
    ExpectRequest(script, "GET /again HTTP/1.1", {"Host: ", "Accept: */*"})
        .Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nagain");
    ScriptedPeer peer(script);
    HttpClient client = ConnectTo(peer, {.options = HTTP_OPTION_KEEPALIVE});
    ASSERT_NE(client, INVALID_HTTP_CLIENT);
    EXPECT_EQ(HttpSendRequest(client, "GET", "/chunked"), 200);
    EXPECT_EQ(HttpReadChunkSize(client), 26);
    std::string body(26, '\0');
    EXPECT_EQ(HttpRecv(client, body.data(), 26), 26);
    EXPECT_EQ(body, first);
    EXPECT_EQ(ReadChunkedBody(client), "hello");
    EXPECT_EQ(ResponseHeader(client, "X-Trailer"), "t");
    EXPECT_EQ(HttpFinishRequest(client), 0);
    EXPECT_EQ(NetTraceOff(), 1);
    std::string states;
    std::istringstream lines(ReadFile(trace));
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find("HTTP exchange state ");
        if (at != std::string::npos) states += line.substr(at + 20) + "|";
    }
    EXPECT_EQ(states,
              "Idle -> RequestSent|RequestSent -> ReadingHeader|ReadingHeader -> HeaderRead|"
              "HeaderRead -> ReadingBody|ReadingBody -> ReadingTrailer|"
              "ReadingTrailer -> ReadingBody|ReadingBody -> BodyDone|BodyDone -> Idle|");
    EXPECT_EQ(HttpSendRequest(client, "GET", "/again"), 200);
    // The body ends at its length, without waiting for more.
    char buffer[64];
    EXPECT_EQ(HttpRecv(client, buffer, sizeof buffer), 5);
    EXPECT_EQ(HttpRecv(client, buffer, sizeof buffer), 0);
    HttpTransferStatus status{};
    EXPECT_EQ(HttpGetTransferStatus(client, &status), 1);
    EXPECT_EQ(status.totalBytes, 5u);
    EXPECT_EQ(status.bytesCopied, 5u);
    EXPECT_EQ(HttpFinishRequest(client), 0);
    EXPECT_EQ(HttpDisconnect(client), 0);
    EXPECT_EQ(peer.Finish(), "");
}

struct CutCase {
    const char* name;
    const char* response;
    int sendError;      // 0: the request succeeds
    const char* body;   // what the body read gives then
    int nextReadError;  // of the read after the body
};

class TruncationTest : public HttpTest, public ::testing::WithParamInterface<CutCase> {};

TEST_P(TruncationTest, FailsCleanlyWhereTheResponseStops) {
    const CutCase& c = GetParam();
    ScriptedPeer peer(Answer(c.response));
    HttpClient client = ConnectTo(peer);
    ASSERT_NE(client, INVALID_HTTP_CLIENT);
    const int status = HttpSendRequest(client, "GET", "/");
    if (c.sendError != 0) {
        EXPECT_TRUE(FailsWith(c.sendError, status));
    } else {
        EXPECT_EQ(status, 200);
        const bool chunked = std::string(c.response).find("chunked") != std::string::npos;
        EXPECT_EQ(chunked ? ReadChunkedBody(client) : ReadBody(client), c.body);
        char byte;
        if (c.nextReadError != 0) {
            EXPECT_TRUE(FailsWith(c.nextReadError, HttpRecv(client, &byte, 1)));
        }
    }
    HttpDisconnect(client);
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, TruncationTest,
    ::testing::Values(
        CutCase{"NoResponse", "", fileErrorNoServerResponse, "", 0},
        CutCase{"MidStatusLine", "HTTP/1.1 20", fileErrorNoServerResponse, "", 0},
        CutCase{"MidHeader", "HTTP/1.1 200 OK\r\nContent-Len", fileErrorConnectionClosed, "", 0},
        CutCase{"NotHttp", "SSH-2.0-OpenSSH\r\n\r\n", fileErrorInvalidServerResponse, "", 0},
        CutCase{"MidBody", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc", 0, "abc",
                fileErrorConnectionClosed},
        CutCase{"MidChunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nabc", 0,
                "<error>", fileErrorConnectionClosed},
        CutCase{"MidChunkSize",
                "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n1", 0,
                "abc<error>", fileErrorConnectionClosed},
        CutCase{"BadChunkSize", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", 0,
                "<error>", 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
