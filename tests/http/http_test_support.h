// Helpers of the HTTP engine tests: the engine started per test, clients to
// scripted peers, the request lines the engine sends, and a window that
// records the engine's event messages.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "http/http.h"
#include "resources/errors.h"
#include "support/scripted_peer.h"

namespace httptest {

using testsupport::PeerScript;
using testsupport::ScriptedPeer;

constexpr UINT kEventMessage = HTTP_NOTIFY_MESSAGE;
// Every event a blocking call raises; the socket-level ones (1, 2, 4, 8) would
// put the client into the asynchronous mode.
constexpr DWORD kCallEvents = 0x1F0;

inline bool FailsWith(int error, long long result) {
    const DWORD code = HttpGetLastError();
    EXPECT_EQ(code, MakeErrorCode(error)) << "error " << (code & 0xFFFF) << ", wanted " << error;
    return (result == -1 || result == 0) && code == MakeErrorCode(error);
}

// The engine is started for each test and stopped after it.
class HttpTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(HttpInitialize(nullptr), 1); }
    void TearDown() override { HttpUninitialize(); }
};

struct Options {
    DWORD options = 0;
    DWORD version = HTTP_VERSION_11;
    int timeout = 5;
    std::string host = "127.0.0.1";
};

inline HttpClient ConnectTo(const ScriptedPeer& peer, const Options& o = Options()) {
    return HttpConnect(HTTP_PROXY_NONE, nullptr, 0, nullptr, nullptr, o.host.c_str(), peer.port(),
                       o.timeout, o.options, o.version, nullptr);
}

// A client connected to a peer playing the scripts. It stands for its handle in
// engine calls and disconnects when it goes.
class PeerClient {
  public:
    explicit PeerClient(std::vector<PeerScript> scripts, const Options& o = Options())
        : peer_(std::move(scripts)), client_(ConnectTo(peer_, o)) {
        EXPECT_NE(client_, INVALID_HTTP_CLIENT) << std::hex << HttpGetLastError();
    }
    explicit PeerClient(PeerScript script, const Options& o = Options())
        : PeerClient(std::vector<PeerScript>{std::move(script)}, o) {}
    ~PeerClient() { Disconnect(); }
    PeerClient(const PeerClient&) = delete;
    PeerClient& operator=(const PeerClient&) = delete;

    operator HttpClient() const { return client_; }
    ScriptedPeer& peer() { return peer_; }
    // Disconnects and returns the peer's first problem ("" when its scripts ran
    // as written).
    std::string Finish() {
        Disconnect();
        return peer_.Finish();
    }

  private:
    void Disconnect() {
        if (client_ != INVALID_HTTP_CLIENT) {
            EXPECT_EQ(HttpDisconnect(client_), 0);
        }
        client_ = INVALID_HTTP_CLIENT;
    }
    ScriptedPeer peer_;
    HttpClient client_;
};

// The engine's User-Agent line, which ends every default header block.
inline const std::string kUserAgentLine = "User-Agent: Tollane-FileTransfer/";

// Expects a request: its request line, then exactly these header lines, the
// engine's User-Agent and the empty line that ends them.
inline PeerScript& ExpectRequest(PeerScript& script, const std::string& requestLine,
                                 const std::vector<std::string>& headers) {
    script.Expect(requestLine);
    for (const auto& header : headers)
        script.Expect(header);
    return script.Expect(kUserAgentLine).Expect("");
}

inline std::string HostOf(const ScriptedPeer& peer) {
    return "127.0.0.1:" + std::to_string(peer.port());
}

// Reads a length-delimited or close-delimited body to its end.
inline std::string ReadBody(HttpClient client) {
    std::string body;
    char buffer[3000];
    for (int round = 0; round < 100000; ++round) {
        const int got = HttpRecv(client, buffer, sizeof buffer);
        if (got <= 0) break;
        body.append(buffer, static_cast<std::size_t>(got));
    }
    return body;
}

// Reads a chunked body to its end; "<error>" when a chunk could not be read.
inline std::string ReadChunkedBody(HttpClient client) {
    std::string body;
    for (int chunk = 0; chunk < 10000; ++chunk) {
        const int64_t size = HttpReadChunkSize(client);
        if (size < 0) return body + "<error>";
        if (size == 0) break;
        std::string data(static_cast<std::size_t>(size), '\0');
        std::size_t have = 0;
        while (have < data.size()) {
            const int got =
                HttpRecv(client, data.data() + have, static_cast<int>(data.size() - have));
            if (got <= 0) return body + "<error>";
            have += static_cast<std::size_t>(got);
        }
        body += data;
    }
    return body;
}

// A window that records the engine's event messages as (error << 16) | event.
class EventWindow {
  public:
    EventWindow() {
        Words().clear();
        window_ = CreateMessageWindow(&Procedure, nullptr);
    }
    ~EventWindow() { DestroyWindow(window_); }
    EventWindow(const EventWindow&) = delete;
    EventWindow& operator=(const EventWindow&) = delete;

    HWND handle() const { return window_; }
    static std::vector<DWORD>& Words() {
        static std::vector<DWORD> words;
        return words;
    }
    static DWORD Word(int error, DWORD event) { return (static_cast<DWORD>(error) << 16) | event; }
    // The recorded words of one event.
    static std::vector<DWORD> Of(DWORD event) {
        std::vector<DWORD> found;
        for (DWORD word : Words()) {
            if ((word & 0xFFFF) == event) found.push_back(word);
        }
        return found;
    }

  private:
    static LRESULT Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == kEventMessage) {
            Words().push_back(static_cast<DWORD>(lParam));
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    HWND window_ = nullptr;
};

}  // namespace httptest
