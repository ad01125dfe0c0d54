// Responses from scripted peers: header text rules, the status mapping and its events,
// chunked and length-delimited bodies, responses cut short; redirects by the RFCs
// (Location resolution, RFC 3986 section 5.4, fragments, the method a redirect leaves,
// credentials kept to their origin) and interim answers. The framing of bodies is in
// download_test.cpp.
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "http/client.h"
#include "http/reference.h"
#include "support/test_files.h"
#include "tests/http/http_test_support.h"
#include "tests/http/transfer_test_support.h"

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
    EventWindow events;
    PeerClient client(
        Answer("HTTP/1.1 " + std::to_string(c.status) + " Whatever\r\nContent-Length: 0\r\n\r\n"),
        {.options = c.options});
    ASSERT_EQ(HttpRegisterNotify(client, events.handle(), kEventMessage, kCallEvents), 0);
    HttpSetLastError(0);
    EXPECT_EQ(HttpSendRequest(client, "GET", "/"), c.result);
    EXPECT_EQ(HttpGetLastError(), c.error == 0 ? 0u : MakeErrorCode(c.error));
    EXPECT_EQ(EventWindow::Of(HTTP_EVENT_COMMAND),
              std::vector<DWORD>{EventWindow::Word(c.error, HTTP_EVENT_COMMAND)});
    EXPECT_EQ(HttpGetResultCode(client), c.status);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, StatusTest,
    ::testing::Values(StatusCase{"NotFoundWithoutErrors", 404, HTTP_OPTION_NOERRORS, 404, 0},
                      StatusCase{"Unlisted418", 418, 0, -1, fileErrorUnexpectedServerResponse},
                      StatusCase{"Unlisted299", 299, 0, 299, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// What nginx never sends: a chunk extension, a trailer, the coding's name in
// another case; the connection serves again after the trailer.
TEST_F(HttpResponseTest, ChunkedBodyIsReadToItsEndAndTheConnectionServesAgain) {
    const std::string first(26, 'a');
    PeerScript script;
    ExpectRequest(script, "GET /chunked HTTP/1.1", {"Host: ", "Accept: */*"})
        .Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n1a;ext=1\r\n" + first +
              "\r\n5\r\nhello\r\n0\r\nX-Trailer: t\r\n\r\n");
    ExpectRequest(script, "GET /again HTTP/1.1", {"Host: ", "Accept: */*"})
        .Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nagain");
    PeerClient client(script, {.options = HTTP_OPTION_KEEPALIVE});
    EXPECT_EQ(HttpSendRequest(client, "GET", "/chunked"), 200);
    EXPECT_EQ(HttpReadChunkSize(client), 26);
    std::string body(26, '\0');
    EXPECT_EQ(HttpRecv(client, body.data(), 26), 26);
    EXPECT_EQ(body, first);
    EXPECT_EQ(ReadChunkedBody(client), "hello");
    EXPECT_EQ(ResponseHeader(client, "X-Trailer"), "t");
    EXPECT_EQ(HttpFinishRequest(client), 0);
    EXPECT_EQ(HttpSendRequest(client, "GET", "/again"), 200);
    EXPECT_EQ(HttpFinishRequest(client), 0);
    EXPECT_EQ(client.Finish(), "");
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
    PeerClient client(Answer(c.response));
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

using HttpRedirectTest = HttpTest;

// RFC 3986 section 5.4: its examples, normal and abnormal, against its base
// (one of each kind where several take the same path).
TEST(HttpReferenceTest, ResolvesTheRfc3986Examples) {
    constexpr std::string_view kBase = "http://a/b/c/d;p?q";
    struct Case {
        std::string_view reference;
        std::string_view target;
    };
    const Case cases[] = {
        {"g:h", "g:h"},
        {"g", "http://a/b/c/g"},
        {"./g", "http://a/b/c/g"},
        {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"},
        {"//g", "http://g"},
        {"?y", "http://a/b/c/d;p?y"},
        {"#s", "http://a/b/c/d;p?q#s"},
        {"g?y#s", "http://a/b/c/g?y#s"},
        {"", "http://a/b/c/d;p?q"},
        {".", "http://a/b/c/"},
        {"..", "http://a/b/"},
        {"../g", "http://a/b/g"},
        {"../..", "http://a/"},
        {"../../../g", "http://a/g"},
        {"/./g", "http://a/g"},
        {"/../g", "http://a/g"},
        {"g.", "http://a/b/c/g."},
        {"..g", "http://a/b/c/..g"},
        {"./g/.", "http://a/b/c/g/"},
        {"g/../h", "http://a/b/c/h"},
        {"g?y/../x", "http://a/b/c/g?y/../x"},
        {"g#s/../x", "http://a/b/c/g#s/../x"},
        {"http:g", "http:g"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(http::ResolveReference(kBase, c.reference), c.target) << c.reference;
    }
    // RFC 9110 section 10.2.2: the request's fragment goes on unless the
    // Location has one.
    EXPECT_EQ(http::RedirectTarget("http://a/b#top", "/c"), "http://a/c#top");
    EXPECT_EQ(http::RedirectTarget("http://a/b#top", "/c#end"), "http://a/c#end");
}

std::string Redirect(int status, const std::string& location) {
    return "HTTP/1.1 " + std::to_string(status) + " Moved\r\nLocation: " + location +
           "\r\nContent-Length: 0\r\n\r\n";
}

const std::string kOkHi = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi";

// The request lines a redirect sends on: relative locations resolve against the
// request URL (the forms of a reference are ResolvesTheRfc3986Examples'),
// fragments stay with the client.
TEST_F(HttpRedirectTest, LocationsResolveAgainstTheRequestAndFragmentsStayHome) {
    struct Case {
        const char* name;
        std::string request;
        std::string location;
        std::string firstLine;
        std::string secondLine;
    };
    const std::vector<Case> cases = {
        {"relative", "/a/b/c?q", "../x/y?z", "GET /a/b/c?q ", "GET /a/x/y?z HTTP/1.1"},
        {"fragment of the request", "/a/b#sec", "/new#other", "GET /a/b HTTP/1.1",
         "GET /new HTTP/1.1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PeerScript first;
        first.Expect(c.firstLine).Send(Redirect(302, c.location)).Close();
        PeerScript second;
        second.Expect(c.secondLine).Send(kOkHi).Close();
        PeerClient client({first, second}, {.options = HTTP_OPTION_REDIRECT});
        EXPECT_EQ(HttpSendRequest(client, "GET", c.request.c_str()), 200);
        EXPECT_EQ(ReadBody(client), "hi");
        EXPECT_EQ(client.Finish(), "");
    }
}

// RFC 9110 section 15.4: which method (and body) a followed redirect sends.
TEST_F(HttpRedirectTest, TheRedirectStatusDecidesTheMethodThatFollows) {
    struct Case {
        int status;
        const char* verb;
        const char* followingLine;
        bool bodyRepeated;
    };
    const Case cases[] = {
        {301, "POST", "GET /to HTTP/1.1", false},  {302, "POST", "GET /to HTTP/1.1", false},
        {303, "POST", "GET /to HTTP/1.1", false},  {303, "DELETE", "GET /to HTTP/1.1", false},
        {303, "HEAD", "HEAD /to HTTP/1.1", false}, {301, "DELETE", "DELETE /to HTTP/1.1", false},
        {307, "POST", "POST /to HTTP/1.1", true},  {308, "POST", "POST /to HTTP/1.1", true},
    };
    const std::string body = "a=1&b=2";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.status) + " " + c.verb);
        PeerScript simple;
        // Read to the client's close: closing with the request body unread
        // would reset the connection under the client's send.
        simple.Expect(std::string(c.verb) + " /from ").Send(Redirect(c.status, "/to")).ReadToEnd();
        PeerScript second;
        second.Expect(c.followingLine).Send(kOkHi).ReadToEnd();
        PeerClient client({simple, second}, {.options = HTTP_OPTION_REDIRECT});
        http::ClientRef record = http::LookupClient(client);
        ASSERT_TRUE(record);
        if (std::string(c.verb) == "POST") {
            http::SetRequestBody(*record, body.data(), static_cast<std::uint32_t>(body.size()));
        }
        EXPECT_EQ(HttpSendRequest(client, c.verb, "/from"), 200);
        EXPECT_EQ(client.Finish(), "");
        const std::string transcript = client.peer().Transcript();
        const std::size_t second_request = transcript.find(c.followingLine);
        ASSERT_NE(second_request, std::string::npos) << transcript;
        const std::string after = transcript.substr(second_request);
        EXPECT_EQ(after.find("Content-Length: 7") != std::string::npos, c.bodyRepeated)
            << transcript;
    }
}

// Credentials and the caller's Host belong to the origin (scheme, host, port)
// that got them: a redirect to another port on the same host sends neither.
TEST_F(HttpRedirectTest, AuthorizationStaysWithItsOrigin) {
    PeerScript other;
    other.Expect("GET /elsewhere HTTP/1.1").Send(kOkHi).ReadToEnd();
    ScriptedPeer second(other);
    PeerScript same;
    same.Expect("GET /inside ")
        .Send(Redirect(302, "http://127.0.0.1:" + std::to_string(second.port()) + "/elsewhere"))
        .ReadToEnd();
    PeerScript start;
    start.Expect("GET /start ").Send(Redirect(302, "/inside")).ReadToEnd();
    PeerClient client({start, same}, {.options = HTTP_OPTION_REDIRECT});
    ASSERT_EQ(HttpSetCredentials(client, "user", "secret"), 0);
    ASSERT_EQ(HttpSetRequestHeader(client, "Authorization", "Bearer token"), 0);
    // The caller's Host goes as given, with the first request only.
    ASSERT_EQ(HttpSetRequestHeader(client, "Host", "first.test"), 0);
    EXPECT_EQ(HttpSendRequest(client, "GET", "/start"), 200);
    EXPECT_EQ(ReadBody(client), "hi");
    EXPECT_EQ(client.Finish(), "");
    EXPECT_EQ(second.Finish(), "");
    // The same origin gets it on every hop; the other one never.
    const std::vector<std::string> lines = client.peer().received();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Authorization: Bearer token"), 2);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Host: first.test"), 1);
    const std::string far = second.Transcript();
    EXPECT_NE(far.find("|Host: 127.0.0.1:"), std::string::npos) << far;
    EXPECT_EQ(far.find("Authorization"), std::string::npos) << far;
}

// Interim answers (1xx but 101) are skipped at every version; 101 was not
// asked for, so it fails; a PUT's final answer decides after a 100.
TEST_F(HttpRedirectTest, InterimAnswersAreSkippedAtEveryVersion) {
    struct Case {
        const char* name;
        DWORD version;
        std::string response;
        int status;  // -1: fails with the error
        int error;
    };
    const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi";
    const std::vector<Case> cases = {
        {"100 at 1.0", HTTP_VERSION_10, "HTTP/1.1 100 Continue\r\n\r\n" + ok, 200, 0},
        {"103 with headers", HTTP_VERSION_11,
         "HTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\n" + ok, 200, 0},
        {"two interim", HTTP_VERSION_10,
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 199 Misc\r\n\r\n" + ok, 200, 0},
        {"101 not asked for", HTTP_VERSION_11,
         "HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\n", -1,
         fileErrorUnexpectedServerResponse},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PeerScript script;
        script.Expect("GET ").Send(c.response).Close();
        PeerClient client(script, {.version = c.version});
        const int status = HttpSendRequest(client, "GET", "/");
        if (c.status > 0) {
            EXPECT_EQ(status, c.status);
            EXPECT_EQ(ReadBody(client), "hi");
        } else {
            EXPECT_TRUE(FailsWith(c.error, status));
        }
    }
    // A 1.0 PUT whose server says 100 and then 500 fails with the 500.
    PeerScript put;
    put.Expect("PUT /up ")
        .Send("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 500 Broken\r\nContent-Length: 0\r\n\r\n");
    put.ReadToEnd();
    PeerClient client(put, {.version = HTTP_VERSION_10});
    EXPECT_TRUE(FailsWith(fileErrorInvalidServerResponse, HttpPutData(client, "/up", "abc", 3)));
}

// Sizes and offsets above 4 GiB go through exactly.
TEST_F(HttpTest, SizesAndOffsetsAboveFourGibibytesAreExact) {
    constexpr std::uint64_t kBig = 5'000'000'123ull;
    PeerScript head;
    head.Expect("HEAD /big ")
        .Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kBig) + "\r\n\r\n")
        .Close();
    std::uint64_t size = 0;
    EXPECT_GE(
        HttpGetFileSize64(PeerClient(head, {.options = HTTP_OPTION_KEEPALIVE}), "/big", &size), 0);
    EXPECT_EQ(size, kBig);

    // A restart beyond 4 GiB asks for exactly that offset.
    ScratchFolder folder{"httpx"};
    const std::string path = (folder / "big.part").string();
    WriteFile(path, "x");
    PeerScript ranged;
    ranged.Expect("GET /big ")
        .Send("HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\n\r\n")
        .ReadToEnd();
    PeerClient client(ranged);
    EXPECT_TRUE(
        FailsWith(fileErrorInvalidContentRange, HttpGetFile(client, path.c_str(), "/big", kBig)));
    client.Finish();
    EXPECT_NE(client.peer().Transcript().find("|Range: bytes=5000000123-|"), std::string::npos)
        << client.peer().Transcript();
    EXPECT_EQ(ReadFile(path), "x");
}

// A redirect from http:// to https:// through a CERN-style proxy chooses the
// route again: the new connection asks the proxy for a tunnel.
TEST_F(HttpTest, ARedirectToHttpsThroughACernProxyAsksForATunnel) {
    PeerScript first;
    first.Expect("GET http://origin.test:8080/start HTTP/1.1")
        .Send(
            "HTTP/1.1 302 Found\r\nLocation: https://origin.test:8443/next\r\n"
            "Content-Length: 0\r\n\r\n")
        .ReadToEnd();
    PeerScript second;
    second.Expect("CONNECT origin.test:8443 HTTP/1.1")
        .Expect("")
        .Send("HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 0\r\n\r\n");
    ScriptedPeer peer({first, second});
    const HttpClient client =
        HttpConnect(HTTP_PROXY_CERN, "127.0.0.1", peer.port(), nullptr, nullptr, "origin.test",
                    8080, 5, HTTP_OPTION_REDIRECT, HTTP_VERSION_11, nullptr);
    ASSERT_NE(client, INVALID_HTTP_CLIENT) << std::hex << HttpGetLastError();
    EXPECT_TRUE(
        FailsWith(fileErrorProxyAuthenticationRequired, HttpSendRequest(client, "GET", "/start")));
    HttpDisconnect(client);
    EXPECT_EQ(peer.Finish(), "");
}

// What a proxy sends in the same breath as its CONNECT answer belongs to the
// tunnel: here a TLS alert, which must end the handshake at once instead of
// being lost (the handshake would then wait for the time-out).
TEST_F(HttpTest, BytesRightAfterTheConnectAnswerReachTheTunnel) {
    const std::string alert("\x15\x03\x03\x00\x02\x02\x28", 7);
    PeerScript proxy;
    proxy.Expect("CONNECT 127.0.0.1:8443 HTTP/1.1")
        .Expect("")
        .Send("HTTP/1.1 200 Connection established\r\n\r\n" + alert)
        .ReadToEnd();
    ScriptedPeer peer(proxy);
    const auto start = std::chrono::steady_clock::now();
    const HttpClient client =
        HttpConnect(HTTP_PROXY_TUNNEL, "127.0.0.1", peer.port(), nullptr, nullptr, "127.0.0.1",
                    8443, 4, HTTP_OPTION_SECURE, HTTP_VERSION_11, nullptr);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(client, INVALID_HTTP_CLIENT);
    EXPECT_NE(HttpGetLastError(), MakeErrorCode(fileErrorOperationTimeout));
    EXPECT_LT(elapsed, std::chrono::seconds(3));
    if (client != INVALID_HTTP_CLIENT) HttpDisconnect(client);
    peer.Finish();
}

}  // namespace
