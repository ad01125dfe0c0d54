// Transfers against the real nginx of scripts/servers.sh over HTTP and HTTPS:
// a 64 MiB upload and download compared by SHA-256, a restart, a gzip body,
// HEAD size and time, DELETE, and a multipart POST checked byte by byte.
// Without the servers' settings the tests skip, unless CI=true.
#include <openssl/evp.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/server_settings.h"
#include "tests/http/transfer_test_support.h"

namespace {

using namespace httptest;

constexpr std::size_t kLargeSize = 64u << 20;

std::string Sha256(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

// Bytes that do not compress and repeat nowhere (xorshift).
std::string NoiseBytes(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::memcpy(bytes.data() + i, &state, 8);
    }
    return bytes;
}

class HttpTransferServerTest : public HttpTest {
  protected:
    void SetUp() override {
        httpPort_ = Setting("FT_TEST_HTTP_PORT");
        httpsPort_ = Setting("FT_TEST_HTTPS_PORT");
        root_ = Setting("FT_TEST_HTTP_ROOT");
        dav_ = Setting("FT_TEST_DAV_PATH");
        const std::string ca = Setting("FT_TEST_CA_FILE");
        if (httpPort_.empty() || httpsPort_.empty() || root_.empty() || dav_.empty() ||
            ca.empty()) {
            if (InCi()) FAIL() << "test server settings missing; run scripts/servers.sh start";
            GTEST_SKIP() << "no test servers configured (scripts/servers.sh start)";
        }
        setenv("SSL_CERT_FILE", ca.c_str(), 1);
        setenv("SSL_CERT_DIR", "/nonexistent", 1);
        HttpTest::SetUp();
    }

    HttpClient Open(bool secure) {
        const DWORD options = HTTP_OPTION_KEEPALIVE | (secure ? HTTP_OPTION_SECURE : 0);
        HttpClient client = HttpConnect(HTTP_PROXY_NONE, nullptr, 0, nullptr, nullptr, "127.0.0.1",
                                        std::stoi(secure ? httpsPort_ : httpPort_), 20, options,
                                        HTTP_VERSION_11, nullptr);
        if (client == INVALID_HTTP_CLIENT && !InCi() &&
            HttpGetLastError() == MakeErrorCode(fileErrorConnectionRefused)) {
            skipped_ = true;
        }
        return client;
    }

    // A name in the writable area, private to this process.
    std::string DavName(const std::string& name) const {
        return dav_ + "httpx-" + std::to_string(getpid()) + "-" + name;
    }

    std::string httpPort_, httpsPort_, root_, dav_;
    bool skipped_ = false;
};

#define OPEN_OR_SKIP(client, secure)                                \
    HttpClient client = Open(secure);                               \
    if (skipped_) GTEST_SKIP() << "the test server is not running"; \
    ASSERT_NE(client, INVALID_HTTP_CLIENT) << std::hex << HttpGetLastError()

TEST_F(HttpTransferServerTest, A64MiBFileGoesUpAndComesBackByteExactOverHttpAndHttps) {
    TempFolder folder;
    const std::string source = folder.File("source.bin");
    const std::string noise = NoiseBytes(kLargeSize);
    const std::string expected = Sha256(noise);
    WriteFileBytes(source, noise);
    for (const bool secure : {false, true}) {
        SCOPED_TRACE(secure ? "https" : "http");
        OPEN_OR_SKIP(client, secure);
        const std::string remote = DavName(secure ? "large-s.bin" : "large.bin");
        const std::string back = folder.File("back.bin");
        ASSERT_EQ(HttpPutFile(client, source.c_str(), remote.c_str()), 0)
            << (HttpGetLastError() & 0xFFFF);
        EXPECT_EQ(HttpGetResultCode(client), 201);
        EXPECT_EQ(Sha256(ReadFileBytes(root_ + remote)), expected);
        ASSERT_EQ(HttpGetFile(client, back.c_str(), remote.c_str(), 0), 0)
            << (HttpGetLastError() & 0xFFFF);
        EXPECT_EQ(Sha256(ReadFileBytes(back)), expected);
        HttpTransferStatus status{};
        ASSERT_EQ(HttpGetTransferStatus(client, &status), 1);
        EXPECT_EQ(status.bytesCopied, kLargeSize);

        // A restart fetches only the rest.
        WriteFileBytes(back, noise.substr(0, 1000003));
        ASSERT_EQ(HttpGetFile(client, back.c_str(), remote.c_str(), 1000003), 0)
            << (HttpGetLastError() & 0xFFFF);
        EXPECT_EQ(HttpGetResultCode(client), 206);
        EXPECT_EQ(Sha256(ReadFileBytes(back)), expected);

        uint64_t size = 0;
        EXPECT_EQ(HttpGetFileSize64(client, remote.c_str(), &size), 200);
        EXPECT_EQ(size, kLargeSize);
        EXPECT_EQ(HttpVerifyFile(client, source.c_str(), remote.c_str(), 0), 1);
        EXPECT_EQ(HttpDeleteFile(client, remote.c_str()), 204);
        EXPECT_TRUE(
            FailsWith(fileErrorResourceNotFound, HttpGetFileSize64(client, remote.c_str(), &size)));
        HttpDisconnect(client);
    }
}

TEST_F(HttpTransferServerTest, GzipBodiesArriveDecodedInMemoryAndOnDisk) {
    OPEN_OR_SKIP(client, false);
    TempFolder folder;
    const std::string original = ReadFileBytes(root_ + "/long.txt");
    HGLOBAL block = nullptr;
    DWORD length = 0;
    ASSERT_EQ(HttpGetData(client, "/long.txt", &block, &length, HTTP_GETDATA_COMPRESS), 0)
        << (HttpGetLastError() & 0xFFFF);
    char encoding[16] = {};
    int size = sizeof encoding;
    ASSERT_EQ(HttpGetResponseHeader(client, "Content-Encoding", encoding, &size), 1);
    EXPECT_STREQ(encoding, "gzip");
    EXPECT_EQ(TakeBlock(block, length), original);
    ASSERT_EQ(HttpEnableCompression(client, TRUE), 0);
    const std::string path = folder.File("long.txt");
    ASSERT_EQ(HttpGetFile(client, path.c_str(), "/long.txt", 0), 0)
        << (HttpGetLastError() & 0xFFFF);
    EXPECT_EQ(ReadFileBytes(path), original);
    HttpDisconnect(client);
}

TEST_F(HttpTransferServerTest, HeadGivesTheSizeAndTheModificationTime) {
    OPEN_OR_SKIP(client, true);
    DWORD size = 0;
    EXPECT_EQ(HttpGetFileSize(client, "/hello.txt", &size), 200);
    EXPECT_EQ(size, 14u);
    SYSTEMTIME time{};
    EXPECT_EQ(HttpGetFileTime(client, "/hello.txt", &time, FALSE), 200);
    // The fixtures are dated FT_TEST_FIXTURE_MTIME (UTC), YYYYMMDDhhmmss.
    const std::string stamp = Setting("FT_TEST_FIXTURE_MTIME");
    ASSERT_EQ(stamp.size(), 14u);
    const std::string wanted = stamp.substr(0, 4) + "-" + stamp.substr(4, 2) + "-" +
                               stamp.substr(6, 2) + " " + stamp.substr(8, 2) + ":" +
                               stamp.substr(10, 2) + ":" + stamp.substr(12, 2);
    EXPECT_EQ(TimeText(time).substr(0, wanted.size()), wanted);
    EXPECT_TRUE(FailsWith(fileErrorResourceNotFound, HttpGetFileTime(client, "/no", &time, 0)));
    EXPECT_EQ(time.wYear, 0);
    HttpDisconnect(client);
}

TEST_F(HttpTransferServerTest, AMultipartPostArrivesAsSent) {
    OPEN_OR_SKIP(client, false);
    TempFolder folder;
    const std::string file = folder.File("form data.bin");
    const std::string content = NoiseBytes(100000);
    WriteFileBytes(file, content);
    ASSERT_EQ(HttpPostFile(client, file.c_str(), "/post-sink", "upload", 0), 0)
        << (HttpGetLastError() & 0xFFFF);
    EXPECT_EQ(HttpGetResultCode(client), 200);
    char stored[512] = {};
    int length = sizeof stored;
    ASSERT_EQ(HttpGetResponseHeader(client, "X-Body-File", stored, &length), 1);
    const std::string body = ReadFileBytes(stored);
    std::remove(stored);
    const std::size_t headerEnd = body.find("\r\n\r\n");
    ASSERT_NE(headerEnd, std::string::npos);
    const std::string boundary = body.substr(2, body.find("\r\n") - 2);
    EXPECT_EQ(boundary.rfind("----=_TL7210_", 0), 0u) << boundary;
    EXPECT_NE(
        body.find("Content-Disposition: form-data; name=\"upload\"; filename=\"" + file + "\"\r\n"),
        std::string::npos);
    EXPECT_TRUE(body.substr(headerEnd + 4, content.size()) == content);
    EXPECT_EQ(body.substr(headerEnd + 4 + content.size()), "\r\n--" + boundary + "--\r\n");
    HttpTransferStatus status{};
    ASSERT_EQ(HttpGetTransferStatus(client, &status), 1);
    EXPECT_EQ(status.bytesCopied, content.size());
    HttpDisconnect(client);
}

}  // namespace
