// Transfers against scripted peers: downloads framed by length, chunks and the end of
// the connection, decoding, text conversion, restart, and the faults that must fail a
// download (cut-off bodies, corrupt streams, local files); PUT from memory and from a
// file; and the progress, time-out and cancel events of the loops. (The
// multipart POST and the size comparison are the real server's,
// tests/integration/http_server_test.cpp.)
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "http/client.h"
#include "tests/http/transfer_test_support.h"

namespace {

using namespace httptest;

// Transfer tests with a scratch folder of their own.
class HttpDownloadTest : public HttpTest {
  protected:
    ScratchFolder folder_{"httpx"};
};

const Options kKeepAlive{.options = HTTP_OPTION_KEEPALIVE};

PeerScript& ExpectGet(PeerScript& script, const std::string& path,
                      std::vector<std::string> before = {}) {
    before.push_back("Host: ");
    before.push_back("Accept: */*");
    return ExpectRequest(script, "GET " + path + " HTTP/1.1", before);
}

// Runs the check against a client whose peer answers one GET and closes.
template <typename Check>
void AgainstOneAnswer(const std::string& response, Check check) {
    PeerScript script;
    script.Expect("GET /f").Send(response).Close();
    PeerClient client(script, kKeepAlive);
    check(client);
}

const std::string kText = TextPattern(5000);

struct MemoryCase {
    const char* name;
    std::string response;
    DWORD flags;
    std::string expected;
};

std::string WithHeaders(const std::string& headers, const std::string& body) {
    return "HTTP/1.1 200 OK\r\n" + headers + "\r\n" + body;
}

std::string Coded(const std::string& coding, const std::string& body) {
    return WithHeaders("Transfer-Encoding: " + coding + "\r\n", Chunk(body) + "0\r\n\r\n");
}

// Transfer-Encoding lists apply in order with chunked last; a Content-Length
// list counts only when its values agree (RFC 9112 section 6). An expected
// "<error>" fails with fileErrorInvalidServerResponse.
TEST_F(HttpDownloadTest, MemoryDownloadsHandOverTheDecodedBody) {
    const std::string zipped = Compressed(kText);
    const std::vector<MemoryCase> cases = {
        {"empty", Response("200 OK", ""), 0, ""},
        {"zlib-wrapped deflate",
         Response("200 OK", Compressed(kText, 15), {"Content-Encoding: deflate"}),
         HTTP_GETDATA_COMPRESS, kText},
        {"raw deflate", Response("200 OK", Compressed(kText, -15), {"Content-Encoding: Deflate"}),
         HTTP_GETDATA_COMPRESS, kText},
        {"gzip not asked for", Response("200 OK", Compressed("abc"), {"Content-Encoding: gzip"}), 0,
         Compressed("abc")},
        {"identity", Response("200 OK", "as is", {"Content-Encoding: identity"}),
         HTTP_GETDATA_COMPRESS, "as is"},
        {"text converted", Response("200 OK", "a\nb", {"Content-Type: text/plain"}),
         HTTP_GETDATA_CONVERT, "a\r\nb\r\n"},
        {"text already CR LF", Response("200 OK", "a\r\nb\nc", {"Content-Type: Text/plain"}),
         HTTP_GETDATA_CONVERT, "a\r\nb\nc"},
        {"binary not converted",
         Response("200 OK", "a\nb", {"Content-Type: application/octet-stream"}),
         HTTP_GETDATA_CONVERT, "a\nb"},
        {"close-delimited", Response("200 OK", "until the end", {}, false), 0, "until the end"},
        {"gzip, chunked", Coded("gzip, chunked", zipped), 0, kText},
        {"split over two headers",
         WithHeaders("Transfer-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n",
                     Chunk(zipped) + "0\r\n\r\n"),
         0, kText},
        {"chunked beats a length",
         WithHeaders("Transfer-Encoding: chunked\r\nContent-Length: 3\r\n",
                     Chunk("hello") + "0\r\n\r\n"),
         0, "hello"},
        {"chunked not last", Coded("chunked, gzip", zipped), 0, "<error>"},
        {"unknown coding", Coded("br, chunked", "x"), 0, "<error>"},
        {"coding without chunks", WithHeaders("Transfer-Encoding: gzip\r\n", zipped), 0, "<error>"},
        {"x-gzip content", Response("200 OK", zipped, {"Content-Encoding: x-gzip"}),
         HTTP_GETDATA_COMPRESS, kText},
        {"equal length list", WithHeaders("Content-Length: 5, 5\r\n", "hellothere"), 0, "hello"},
        {"equal length lines",
         WithHeaders("Content-Length: 5\r\nContent-Length: 5\r\n", "hellothere"), 0, "hello"},
        {"conflicting list", WithHeaders("Content-Length: 5, 6\r\n", "hellothere"), 0, "<error>"},
        {"conflicting lines",
         WithHeaders("Content-Length: 5\r\nContent-Length: 6\r\n", "hellothere"), 0, "<error>"},
        {"not a number", WithHeaders("Content-Length: 5x\r\n", "hellothere"), 0, "<error>"},
    };
    for (const MemoryCase& c : cases) {
        SCOPED_TRACE(c.name);
        PeerScript script;
        const bool compress = (c.flags & HTTP_GETDATA_COMPRESS) != 0;
        ExpectGet(script, "/data",
                  compress ? std::vector<std::string>{"Accept-Encoding: gzip, deflate"}
                           : std::vector<std::string>{})
            .Send(c.response);
        if (c.response.find("Content-Length") == std::string::npos &&
            c.response.find("chunked") == std::string::npos) {
            script.Close();
        }
        PeerClient client(script, kKeepAlive);
        HGLOBAL block = nullptr;
        DWORD length = 0;
        const int result = HttpGetData(client, "/data", &block, &length, c.flags);
        if (c.expected == "<error>") {
            EXPECT_TRUE(FailsWith(fileErrorInvalidServerResponse, result));
            continue;
        }
        ASSERT_EQ(result, 0) << HttpGetLastError();
        // An empty body comes as no block.
        ASSERT_EQ(block == nullptr, c.expected.empty());
        EXPECT_EQ(GlobalSize(block), c.expected.size());
        EXPECT_EQ(TakeBlock(block, length), c.expected);
        EXPECT_EQ(client.Finish(), "");
    }
}

TEST_F(HttpDownloadTest, ACallersBufferGetsAtMostItsLengthAndTheRequestHeadersAreNotKept) {
    PeerScript script;
    ExpectGet(script, "/a", {"Accept-Encoding: gzip, deflate"})
        .Send(Response("200 OK", "0123456789"));
    ExpectGet(script, "/b").Send(Response("200 OK", "x"));
    PeerClient client(script, kKeepAlive);
    char buffer[4] = {};
    DWORD length = sizeof buffer;
    ASSERT_EQ(HttpGetData(client, "/a", buffer, &length, HTTP_GETDATA_COMPRESS), 0);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    // Compression asked for one request only: the next one goes without it.
    EXPECT_EQ(HttpGetData(client, "/b", buffer, &length, 0), 0);
    EXPECT_EQ(std::string(buffer, 1), "x");
    EXPECT_EQ(client.Finish(), "");
}

struct FaultCase {
    const char* name;
    std::string response;  // the peer closes after it
    DWORD flags;
    int error;
};

TEST_F(HttpDownloadTest, CutOffAndCorruptBodiesFailInMemory) {
    const std::string gzip = Compressed(kText);
    std::string corrupt = gzip;
    corrupt[corrupt.size() / 2] ^= 0x55;
    corrupt[corrupt.size() / 2 + 1] ^= 0x55;
    // A body short of its length and chunks without the last one are
    // FailedFileDownloads...'s: memory and file share ReceiveBody.
    const std::vector<FaultCase> cases = {
        {"chunk cut inside", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nabc", 0,
         fileErrorConnectionClosed},
        {"corrupt gzip", Response("200 OK", corrupt, {"Content-Encoding: gzip"}),
         HTTP_GETDATA_COMPRESS, fileErrorInvalidEncodingType},
        {"gzip cut short",
         Response("200 OK", gzip.substr(0, gzip.size() - 12), {"Content-Encoding: gzip"}),
         HTTP_GETDATA_COMPRESS, fileErrorInvalidEncodingType},
        {"compress coding", Response("200 OK", "abc", {"Content-Encoding: compress"}),
         HTTP_GETDATA_COMPRESS, fileErrorInvalidEncodingType},
        // Zeros at the best compression expand past the default ratio of 1000.
        {"bomb",
         Response("200 OK", Compressed(std::string(20 << 20, '\0'), 31, 9),
                  {"Content-Encoding: gzip"}),
         HTTP_GETDATA_COMPRESS, fileErrorDecodedSizeExceeded},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        AgainstOneAnswer(c.response, [&c](HttpClient client) {
            std::string body;
            EXPECT_TRUE(FailsWith(c.error, GetData(client, "/f", &body, c.flags)));
        });
    }
}

TEST_F(HttpDownloadTest, ARestartContinuesAPartialAnswerAndRewritesAWholeOne) {
    const std::string path = (folder_ / "restart.bin").string();
    const std::string whole = TextPattern(3000);
    PeerScript script;
    // A server that ignores the range sends everything. (A 206 is the real
    // server's, tests/integration/http_server_test.cpp.)
    ExpectGet(script, "/r", {"Range: bytes=1000-"}).Send(Response("200 OK", whole));
    ExpectGet(script, "/r", {"Range: bytes=1000-"})
        .Send(Response("206 Partial Content", whole.substr(500),
                       {"Content-Range: bytes 500-2999/3000"}));
    // The refused answer was left unread, so the next request opens a new
    // connection; the range lasted for its request only.
    PeerScript next;
    ExpectGet(next, "/plain").Send(Response("200 OK", "p"));
    PeerClient client({script, next}, kKeepAlive);

    WriteFile(path, whole.substr(0, 1000) + "stale tail that must go");
    ASSERT_EQ(HttpGetFile(client, path.c_str(), "/r", 1000), 0) << HttpGetLastError();
    EXPECT_EQ(ReadFile(path), whole);

    EXPECT_TRUE(
        FailsWith(fileErrorInvalidContentRange, HttpGetFile(client, path.c_str(), "/r", 1000)));
    char buffer[2];
    DWORD length = sizeof buffer;
    EXPECT_EQ(HttpGetData(client, "/plain", buffer, &length, 0), 0) << HttpGetLastError();
    EXPECT_EQ(client.Finish(), "");
}

TEST_F(HttpDownloadTest, FailedFileDownloadsKeepOnlyWhatARestartContinues) {
    const std::string path = (folder_ / "f.bin").string();
    std::string corrupt = Compressed(kText);
    corrupt[corrupt.size() / 2] ^= 0x55;
    struct Case {
        const char* name;
        std::string response;
        int error;
        std::string left;  // the file afterwards
    };
    const std::vector<Case> cases = {
        {"short of its length",
         "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + std::string(50, 'x'),
         fileErrorConnectionClosed, std::string(50, 'x')},
        {"chunked without the last chunk", ChunkedResponse({"abc", "defg"}, false),
         fileErrorConnectionClosed, "abcdefg"},
        // Nothing a restart could continue: the file goes.
        {"corrupt gzip", Response("200 OK", corrupt, {"Content-Encoding: gzip"}),
         fileErrorInvalidFileType, "<removed>"},
        {"gzip cut short",
         "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 9999\r\n\r\n" +
             Compressed(kText).substr(0, 40),
         fileErrorConnectionClosed, "<removed>"},
        {"nothing arrived", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n",
         fileErrorConnectionClosed, "<removed>"},
    };
    // A file that was there before stays as it was, whatever the failure.
    const std::string old = "the file as it was";
    for (const Case& c : cases) {
        for (const bool existed : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (existed ? ", over an existing file" : ""));
            if (existed) WriteFile(path, old);
            AgainstOneAnswer(c.response, [&](HttpClient client) {
                EXPECT_TRUE(FailsWith(c.error, HttpGetFile(client, path.c_str(), "/f", 0)));
                if (existed) {
                    EXPECT_EQ(ReadFile(path), old);
                } else if (c.left == "<removed>") {
                    EXPECT_FALSE(std::filesystem::exists(path));
                } else {
                    EXPECT_EQ(ReadFile(path), c.left);
                }
                EXPECT_LE(std::distance(std::filesystem::directory_iterator(folder_.path()),
                                        std::filesystem::directory_iterator()),
                          1);
            });
            std::filesystem::remove(path);
        }
    }
}

TEST_F(HttpDownloadTest, LocalFileAndArgumentRules) {
    struct Case {
        const char* name;
        std::string local;
        uint64_t offset;
        int error;
    };
    const std::vector<Case> cases = {
        {"cannot be created", (folder_ / "missing/dir/f.bin").string(), 0, fileErrorFileNotCreated},
        {"restart without a file", (folder_ / "absent.bin").string(), 10, fileErrorFileNotFound},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AgainstOneAnswer(Response("200 OK", "body"), [&c](HttpClient client) {
            EXPECT_TRUE(FailsWith(c.error, HttpGetFile(client, c.local.c_str(), "/f", c.offset)));
            EXPECT_FALSE(std::filesystem::exists(c.local));
        });
    }
    PeerClient old(PeerScript(), {.options = HTTP_OPTION_KEEPALIVE, .version = HTTP_VERSION_09});
    const std::string path = (folder_ / "x").string();
    EXPECT_TRUE(FailsWith(fileErrorOperationNotSupported, HttpGetFile(old, path.c_str(), "/f", 5)));
    EXPECT_TRUE(FailsWith(fileErrorInvalidResource, HttpGetFile(old, path.c_str(), "", 0)));
    EXPECT_TRUE(FailsWith(fileErrorInvalidFileName, HttpGetFile(old, nullptr, "/f", 0)));
    DWORD length = 0;
    EXPECT_TRUE(FailsWith(fileErrorInvalidParameter, HttpGetData(old, "/f", nullptr, &length, 0)));
    // HEAD needs version 1.0 and somewhere to put the size.
    uint64_t size = 1;
    EXPECT_TRUE(FailsWith(fileErrorInvalidProtocolVersion, HttpGetFileSize64(old, "/r", &size)));
    EXPECT_EQ(size, 0u);
    EXPECT_TRUE(FailsWith(fileErrorInvalidParameter, HttpGetFileSize64(old, "/r", nullptr)));
}

TEST(HttpDecoderTest, MemoryAndFileDecodersStandOnTheirOwn) {
    const std::string zipped = Compressed(kText);
    HGLOBAL input = GlobalAlloc(GHND, zipped.size());
    std::memcpy(GlobalLock(input), zipped.data(), zipped.size());
    GlobalUnlock(input);
    HGLOBAL output = nullptr;
    DWORD length = 0;
    ASSERT_EQ(HttpDecodeMemory(input, static_cast<DWORD>(zipped.size()), &output, &length), 1);
    EXPECT_EQ(TakeBlock(output, length), kText);
    EXPECT_EQ(HttpDecodeMemory(input, 0, &output, &length), 0);
    EXPECT_EQ(HttpGetLastError(), MakeErrorCode(fileErrorInvalidParameter));
    GlobalFree(input);

    // Line ends are converted across the inflate windows' borders.
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += i % 3 == 0 ? "line\r\n" : "line\n";
    std::string wanted;
    for (int i = 0; i < 3000; ++i)
        wanted += "line\r\n";
    ScratchFolder folder{"httpx"};
    const std::string path = (folder / "text.gz").string();
    WriteFile(path, Compressed(text));
    ASSERT_EQ(HttpDecodeFile(INVALID_HTTP_CLIENT, path.c_str(), TRUE), 1);
    EXPECT_EQ(ReadFile(path), wanted);
    EXPECT_EQ(HttpDecodeFile(INVALID_HTTP_CLIENT, (folder / "absent").string().c_str(), FALSE), 0);
    EXPECT_EQ(HttpGetLastError(), MakeErrorCode(fileErrorFileNotFound));
}

using Clock = std::chrono::steady_clock;

using HttpUploadTest = HttpDownloadTest;

TEST_F(HttpUploadTest, PutSendsTypeAndLengthAndTheNextRequestOpensANewConnection) {
    PeerScript first;
    ExpectRequest(first, "PUT /up/notes.txt HTTP/1.1",
                  {"Content-Type: text/plain", "Content-Length: 6", "Host: "})
        .Expect("hello")
        .Send(Response("201 Created", ""));
    PeerScript second;
    ExpectRequest(second, "PUT /up/data HTTP/1.1",
                  {"Content-Type: application/octet-stream", "Content-Length: 4", "Host: "})
        .Expect("abc")
        .Send(Response("204 No Content", "", {}, false));
    PeerClient client({first, second}, kKeepAlive);
    EXPECT_EQ(HttpPutData(client, "/up/notes.txt", "hello\n", 6), 0) << HttpGetLastError();
    EXPECT_EQ(HttpGetResultCode(client), 201);
    EXPECT_EQ(Figures(client), "6/6");
    EXPECT_EQ(HttpPutData(client, "/up/data", "abc\n", 4), 0) << HttpGetLastError();
    EXPECT_EQ(client.Finish(), "");
}

TEST_F(HttpUploadTest, PutFailuresComeFromTheFileOrTheFinalStatus) {
    const std::string file = (folder_ / "up.txt").string();
    WriteFile(file, "line\n");
    PeerScript refused;
    refused.Expect("PUT /locked").Expect("Content-Type").Expect("Content-Length: 5");
    refused.Expect("Host").Expect(kUserAgentLine).Expect("").Expect("line");
    refused.Send(Response("403 Forbidden", "no"));
    PeerClient client(refused, kKeepAlive);
    EXPECT_EQ(HttpPutFile(client, file.c_str(), "/locked"), -1);
    EXPECT_EQ(HttpGetResultCode(client), 403);
    EXPECT_TRUE(FailsWith(fileErrorFileNotFound,
                          HttpPutFile(client, (folder_ / "absent").string().c_str(), "/x")));
    EXPECT_TRUE(FailsWith(fileErrorInvalidFileType,
                          HttpPutFile(client, (folder_ / "").string().c_str(), "/x")));
    EXPECT_TRUE(FailsWith(fileErrorInvalidParameter, HttpPutData(client, "/x", "a", 0)));
    EXPECT_TRUE(FailsWith(fileErrorInvalidResource, HttpPutData(client, nullptr, "a", 1)));
    EXPECT_EQ(client.Finish(), "");
}

// ---- Events of the loops ----

constexpr std::size_t kLargeBody = 1 << 20;

PeerScript SlowBody(int stallMs) {
    PeerScript script;
    script.Expect("GET /slow")
        .Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kLargeBody) + "\r\n\r\n" +
              std::string(20000, 'x'))
        .Stall(stallMs)
        .Close();
    return script;
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST_F(HttpUploadTest, AStallInTheBodyTimesOutWithItsEvent) {
    EventWindow events;
    PeerClient client(SlowBody(4000), {.options = HTTP_OPTION_KEEPALIVE, .timeout = 1});
    ASSERT_EQ(HttpRegisterNotify(client, events.handle(), kEventMessage, kCallEvents), 0);
    const auto start = Clock::now();
    EXPECT_TRUE(FailsWith(fileErrorOperationTimeout,
                          HttpGetFile(client, (folder_ / "slow").string().c_str(), "/slow", 0)));
    EXPECT_LT(SecondsSince(start), 2.5);
    EXPECT_EQ(EventWindow::Of(HTTP_EVENT_TIMEOUT),
              std::vector<DWORD>{EventWindow::Word(fileErrorOperationTimeout, HTTP_EVENT_TIMEOUT)});
    EXPECT_FALSE(EventWindow::Of(HTTP_EVENT_PROGRESS).empty());
}

void CancelOnProgress(HttpClient client, DWORD, DWORD, void*) {
    HttpCancel(client);
}

TEST_F(HttpUploadTest, ACancelFromAProgressHandlerEndsTheDownload) {
    EventWindow events;
    PeerClient client(SlowBody(4000), kKeepAlive);
    ASSERT_EQ(HttpRegisterNotify(client, events.handle(), kEventMessage, kCallEvents), 0);
    ASSERT_EQ(HttpSetEventCallback(client, HTTP_EVENT_PROGRESS, &CancelOnProgress, nullptr), 0);
    std::string body;
    const auto start = Clock::now();
    EXPECT_TRUE(FailsWith(fileErrorOperationCanceled, GetData(client, "/slow", &body)));
    EXPECT_LT(SecondsSince(start), 2.0);
    EXPECT_EQ(EventWindow::Of(HTTP_EVENT_CANCEL),
              std::vector<DWORD>{EventWindow::Word(fileErrorOperationCanceled, HTTP_EVENT_CANCEL)});
}

// A handler that tries to start another download of the same client.
void DownloadAgainOnProgress(HttpClient client, DWORD, DWORD, void* result) {
    std::string body;
    if (GetData(client, "/again", &body) == -1) *static_cast<DWORD*>(result) = HttpGetLastError();
}

TEST_F(HttpUploadTest, ADownloadToMemoryCannotBeStartedFromInsideAnother) {
    PeerScript script;
    script.Expect("GET /first").Send(Response("200 OK", TextPattern(100)));
    PeerClient client(script, kKeepAlive);
    DWORD nested = 0;
    ASSERT_EQ(HttpSetEventCallback(client, HTTP_EVENT_PROGRESS, &DownloadAgainOnProgress, &nested),
              0);
    std::string body;
    ASSERT_EQ(GetData(client, "/first", &body), 0);
    EXPECT_EQ(body, TextPattern(100));
    EXPECT_EQ(nested, MakeErrorCode(fileErrorOperationInProgress));
}

TEST_F(HttpUploadTest, ProgressComesAtTheStartAndTheEndAndNotMoreThanEvery250ms) {
    const std::string body = TextPattern(300000);
    PeerScript script;
    script.Expect("GET /p").Send("HTTP/1.1 200 OK\r\nContent-Length: 300000\r\n\r\n");
    for (std::size_t at = 0; at < body.size(); at += 30000)
        script.SendAfter(100, body.substr(at, 30000));
    EventWindow events;
    PeerClient client(script, kKeepAlive);
    ASSERT_EQ(HttpRegisterNotify(client, events.handle(), kEventMessage, kCallEvents), 0);
    std::string got;
    const auto start = Clock::now();
    ASSERT_EQ(GetData(client, "/p", &got), 0);
    const double took = SecondsSince(start);
    EXPECT_EQ(got, body);
    const std::size_t progress = EventWindow::Of(HTTP_EVENT_PROGRESS).size();
    EXPECT_GE(progress, 3u);  // start, at least one in between, end
    EXPECT_LE(progress, static_cast<std::size_t>(took / 0.25) + 3);
}

}  // namespace
