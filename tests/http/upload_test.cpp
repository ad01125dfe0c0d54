// Uploads and transfer events against scripted peers: PUT from memory and
// from a file, the multipart POST's framing, HEAD, DELETE and the size
// comparison, and the progress, time-out and cancel events of the loops.
#include <chrono>
#include <numeric>
#include <string>
#include <vector>

#include "http/client.h"
#include "tests/http/transfer_test_support.h"

namespace {

using namespace httptest;
using Clock = std::chrono::steady_clock;

using HttpUploadTest = HttpTest;

const Options kKeepAlive{.options = HTTP_OPTION_KEEPALIVE};

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
    ScriptedPeer peer({first, second});
    HttpClient client = ConnectTo(peer, kKeepAlive);
    ASSERT_NE(client, INVALID_HTTP_CLIENT);
    EXPECT_EQ(HttpPutData(client, "/up/notes.txt", "hello\n", 6), 0) << HttpGetLastError();
    EXPECT_EQ(HttpGetResultCode(client), 201);
    HttpTransferStatus status{};
    ASSERT_EQ(HttpGetTransferStatus(client, &status), 1);
    EXPECT_EQ(status.totalBytes, 6u);
    EXPECT_EQ(status.bytesCopied, 6u);
    EXPECT_EQ(HttpPutData(client, "/up/data", "abc\n", 4), 0) << HttpGetLastError();
    HttpDisconnect(client);
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(HttpUploadTest, PutFailuresComeFromTheFileOrTheFinalStatus) {
    ScratchFolder folder{"httpx"};
    const std::string file = (folder / "up.txt").string();
    WriteFile(file, "line\n");
    PeerScript refused;
    refused.Expect("PUT /locked").Expect("Content-Type").Expect("Content-Length: 5");
    refused.Expect("Host").Expect(kUserAgentLine).Expect("").Expect("line");
    refused.Send(Response("403 Forbidden", "no"));
    ScriptedPeer peer(refused);
    HttpClient client = ConnectTo(peer, kKeepAlive);
    ASSERT_NE(client, INVALID_HTTP_CLIENT);
    EXPECT_EQ(HttpPutFile(client, file.c_str(), "/locked"), -1);
    EXPECT_EQ(HttpGetResultCode(client), 403);
    EXPECT_TRUE(FailsWith(fileErrorFileNotFound,
                          HttpPutFile(client, (folder / "absent").string().c_str(), "/x")));
    EXPECT_TRUE(FailsWith(fileErrorInvalidFileType,
                          HttpPutFile(client, (folder / "").string().c_str(), "/x")));
    EXPECT_TRUE(FailsWith(fileErrorInvalidParameter, HttpPutData(client, "/x", "a", 0)));
    EXPECT_TRUE(FailsWith(fileErrorInvalidResource, HttpPutData(client, nullptr, "a", 1)));
    HttpDisconnect(client);
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(HttpUploadTest, MultipartPostAnnouncesExactlyTheBytesItSends) {
    ScratchFolder folder{"httpx"};
    const std::string file = (folder / "form.bin").string();
    WriteFile(file, "0123456789");
    PeerScript script;
    ExpectRequest(script, "POST /upload HTTP/1.1",
                  {"Content-Type: multipart/form-data; boundary=----=_TL7210_",
                   "Content-Length: ", "Host: "});
    script.Expect("------=_TL7210_")
        .Expect("Content-Disposition: form-data; name=\"File1\"; filename=\"" + file + "\"")
        .Expect("Content-Type: application/octet-stream")
        .Expect("Content-Transfer-Encoding: 8bit")
        .Expect("")
        .Expect("0123456789")
        .Expect("------=_TL7210_")
        .Send(ChunkedResponse({"stored"}));
    ScriptedPeer peer(script);
    HttpClient client = ConnectTo(peer, kKeepAlive);
    ASSERT_NE(client, INVALID_HTTP_CLIENT);
    EXPECT_TRUE(FailsWith(fileErrorOptionNotSupported,
                          HttpPostFile(client, file.c_str(), "/upload", nullptr, 1)));
    ASSERT_EQ(HttpPostFile(client, file.c_str(), "/upload", nullptr, 0), 0) << HttpGetLastError();
    HttpTransferStatus status{};
    ASSERT_EQ(HttpGetTransferStatus(client, &status), 1);
    EXPECT_EQ(status.totalBytes, 10u);
    EXPECT_EQ(status.bytesCopied, 10u);
    HttpDisconnect(client);
    ASSERT_EQ(peer.Finish(), "");

    // Every line after the header block came with CR LF.
    const std::vector<std::string> lines = peer.received();
    std::size_t announced = 0;
    std::size_t headerEnd = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind("Content-Length: ", 0) == 0) announced = std::stoul(lines[i].substr(16));
        if (lines[i].empty()) {
            headerEnd = i;
            break;
        }
    }
    const std::size_t sent = std::accumulate(
        lines.begin() + static_cast<long>(headerEnd) + 1, lines.end(), std::size_t{0},
        [](std::size_t sum, const std::string& line) { return sum + line.size() + 2; });
    EXPECT_EQ(announced, sent);
    EXPECT_EQ(lines.back(), lines[headerEnd + 1] + "--");
}

TEST_F(HttpUploadTest, HeadGivesSizeAndTimeAndVerifyComparesSizes) {
    ScratchFolder folder{"httpx"};
    const std::string same = (folder / "same").string();
    const std::string other = (folder / "other").string();
    WriteFile(same, std::string(12345, 'x'));
    WriteFile(other, "short");
    const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Length: 12345\r\nLast-Modified: Sun, 06 Nov 1994 "
        "08:49:37 GMT\r\n\r\n";
    PeerScript script;
    for (int i = 0; i < 4; ++i)
        script.Expect("HEAD /r HTTP/1.1")
            .Expect("Host")
            .Expect("Accept")
            .Expect(kUserAgentLine)
            .Expect("")
            .Send(head);
    ExpectRequest(script, "DELETE /r HTTP/1.1", {"Host: "})
        .Send(Response("204 No Content", "", {}, false));
    ScriptedPeer peer(script);
    HttpClient client = ConnectTo(peer, kKeepAlive);
    ASSERT_NE(client, INVALID_HTTP_CLIENT);
    uint64_t size = 0;
    EXPECT_EQ(HttpGetFileSize64(client, "/r", &size), 200);
    EXPECT_EQ(size, 12345u);
    SYSTEMTIME time{};
    EXPECT_EQ(HttpGetFileTime(client, "/r", &time, FALSE), 200);
    EXPECT_EQ(TimeText(time), "1994-11-06 08:49:37/0");
    EXPECT_EQ(HttpVerifyFile(client, same.c_str(), "/r", 0), 1);
    EXPECT_EQ(HttpGetLastError(), 0u);
    EXPECT_TRUE(
        FailsWith(fileErrorFileSizeMismatch, HttpVerifyFile(client, other.c_str(), "/r", 0)));
    EXPECT_TRUE(FailsWith(fileErrorFileNotFound,
                          HttpVerifyFile(client, (folder / "absent").string().c_str(), "/r", 0)));
    EXPECT_EQ(HttpVerifyFile(client, same.c_str(), "/r", 1), -1);
    EXPECT_EQ(HttpDeleteFile(client, "/r"), 204);
    HttpDisconnect(client);
    EXPECT_EQ(peer.Finish(), "");
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
    ScratchFolder folder{"httpx"};
    ScriptedPeer peer(SlowBody(4000));
    EventWindow events;
    HttpClient client = ConnectTo(peer, {.options = HTTP_OPTION_KEEPALIVE, .timeout = 1});
    ASSERT_NE(client, INVALID_HTTP_CLIENT);
    ASSERT_EQ(HttpRegisterNotify(client, events.handle(), kEventMessage, kCallEvents), 0);
    const auto start = Clock::now();
    EXPECT_TRUE(FailsWith(fileErrorOperationTimeout,
                          HttpGetFile(client, (folder / "slow").string().c_str(), "/slow", 0)));
    EXPECT_LT(SecondsSince(start), 2.5);
    EXPECT_EQ(EventWindow::Of(HTTP_EVENT_TIMEOUT),
              std::vector<DWORD>{EventWindow::Word(fileErrorOperationTimeout, HTTP_EVENT_TIMEOUT)});
    EXPECT_FALSE(EventWindow::Of(HTTP_EVENT_PROGRESS).empty());
    HttpDisconnect(client);
}

void CancelOnProgress(HttpClient client, DWORD, DWORD, void*) {
    HttpCancel(client);
}

TEST_F(HttpUploadTest, ACancelFromAProgressHandlerEndsTheDownload) {
    ScriptedPeer peer(SlowBody(4000));
    EventWindow events;
    HttpClient client = ConnectTo(peer, kKeepAlive);
    ASSERT_NE(client, INVALID_HTTP_CLIENT);
    ASSERT_EQ(HttpRegisterNotify(client, events.handle(), kEventMessage, kCallEvents), 0);
    ASSERT_EQ(HttpSetEventCallback(client, HTTP_EVENT_PROGRESS, &CancelOnProgress, nullptr), 0);
    HGLOBAL block = nullptr;
    DWORD length = 0;
    const auto start = Clock::now();
    EXPECT_TRUE(
        FailsWith(fileErrorOperationCanceled, HttpGetData(client, "/slow", &block, &length, 0)));
    EXPECT_LT(SecondsSince(start), 2.0);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(EventWindow::Of(HTTP_EVENT_CANCEL),
              std::vector<DWORD>{EventWindow::Word(fileErrorOperationCanceled, HTTP_EVENT_CANCEL)});
    HttpDisconnect(client);
}

// A handler that tries to start another download of the same client.
void DownloadAgainOnProgress(HttpClient client, DWORD, DWORD, void* result) {
    DWORD length = 0;
    HGLOBAL block = nullptr;
    if (HttpGetData(client, "/again", &block, &length, 0) == -1) {
        *static_cast<DWORD*>(result) = HttpGetLastError();
    }
}

TEST_F(HttpUploadTest, ADownloadToMemoryCannotBeStartedFromInsideAnother) {
    PeerScript script;
    script.Expect("GET /first").Send(Response("200 OK", TextPattern(100)));
    ScriptedPeer peer(script);
    HttpClient client = ConnectTo(peer, kKeepAlive);
    ASSERT_NE(client, INVALID_HTTP_CLIENT);
    DWORD nested = 0;
    ASSERT_EQ(HttpSetEventCallback(client, HTTP_EVENT_PROGRESS, &DownloadAgainOnProgress, &nested),
              0);
    HGLOBAL block = nullptr;
    DWORD length = 0;
    ASSERT_EQ(HttpGetData(client, "/first", &block, &length, 0), 0);
    EXPECT_EQ(TakeBlock(block, length), TextPattern(100));
    EXPECT_EQ(nested, MakeErrorCode(fileErrorOperationInProgress));
    HttpDisconnect(client);
}

TEST_F(HttpUploadTest, ProgressComesAtTheStartAndTheEndAndNotMoreThanEvery250ms) {
    const std::string body = TextPattern(300000);
    PeerScript script;
    script.Expect("GET /p").Send("HTTP/1.1 200 OK\r\nContent-Length: 300000\r\n\r\n");
    for (std::size_t at = 0; at < body.size(); at += 30000)
        script.SendAfter(100, body.substr(at, 30000));
    ScriptedPeer peer(script);
    EventWindow events;
    HttpClient client = ConnectTo(peer, kKeepAlive);
    ASSERT_NE(client, INVALID_HTTP_CLIENT);
    ASSERT_EQ(HttpRegisterNotify(client, events.handle(), kEventMessage, kCallEvents), 0);
    HGLOBAL block = nullptr;
    DWORD length = 0;
    const auto start = Clock::now();
    ASSERT_EQ(HttpGetData(client, "/p", &block, &length, 0), 0);
    const double took = SecondsSince(start);
    EXPECT_EQ(TakeBlock(block, length), body);
    const std::size_t progress = EventWindow::Of(HTTP_EVENT_PROGRESS).size();
    EXPECT_GE(progress, 3u);  // start, at least one in between, end
    EXPECT_LE(progress, static_cast<std::size_t>(took / 0.25) + 3);
    HttpDisconnect(client);
}

}  // namespace
