// The control over the HTTP engine against the real nginx of
// scripts/servers.sh, over HTTP and HTTPS: files and memory up and down byte
// for byte, size, delete and verify (the command-line tests take the control
// through posts and redirects on the same server). Without the servers'
// settings the tests skip, unless CI=true.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "control/method_call_support.h"
#include "control/session_test_support.h"
#include "support/server_settings.h"
#include "support/test_files.h"

namespace {

constexpr DISPID kOnProgress = 4;

struct Scheme {
    const char* name;
    const char* portVariable;
};

class ControlHttpTest : public SessionTest, public ::testing::WithParamInterface<Scheme> {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        REQUIRE_SERVER_SETTINGS(GetParam().portVariable, "FT_TEST_HTTP_ROOT", "FT_TEST_DAV_PATH",
                                "FT_TEST_CA_FILE");
        port_ = Setting(GetParam().portVariable);
        root_ = Setting("FT_TEST_HTTP_ROOT");
        dav_ = Setting("FT_TEST_DAV_PATH");
        certFile_.emplace("SSL_CERT_FILE", Setting("FT_TEST_CA_FILE"));
        certDir_.emplace("SSL_CERT_DIR", "/nonexistent");
        const std::string tag = std::string(GetParam().name) + "-" + std::to_string(getpid());
        remote_ = dav_ + "ctl-http-" + tag + ".bin";
        local_ = testing::TempDir() + "ctl-http-" + tag + ".local";
    }
    void TearDown() override {
        SessionTest::TearDown();
        std::remove(local_.c_str());
        std::remove((root_ + remote_).c_str());
    }

    std::string Base() const { return std::string(GetParam().name) + "://127.0.0.1:" + port_; }
    // false (and the test skipped) when the server is not running.
    bool Connect() {
        VARIANT timeout = I4(10);
        const LONG error =
            CallWithError(control_, &CFileTransfer::Connect, TextVariant(Base() + "/"), nullptr,
                          nullptr, nullptr, &timeout, nullptr);
        if (error == fileErrorConnectionRefused && !InCi()) return false;
        EXPECT_EQ(error, 0) << Text(&CFileTransfer::get_LastErrorString);
        return error == 0;
    }
    LONG Transfer(decltype(&CFileTransfer::GetFile) method, const std::string& remote) {
        return CallWithError(control_, method, TextVariant(local_), TextVariant(remote), nullptr);
    }

    std::string port_, root_, dav_, remote_, local_;
    std::optional<ScopedEnv> certFile_, certDir_;  // only the test CA, until the test ends
};

#define CONNECT_OR_SKIP() \
    if (!Connect()) GTEST_SKIP() << GetParam().name << " server is not running"

// With fileOptionNoCache, which asks for a fresh answer.
TEST_P(ControlHttpTest, FilesAndMemoryGoUpAndComeBackByteExact) {
    ASSERT_EQ(control_->put_Options(fileOptionNoCache), S_OK);
    CONNECT_OR_SKIP();
    EXPECT_EQ(Long(&CFileTransfer::get_ServerType), fileServerHTTP);
    const bool secure = std::string(GetParam().name) == "https";
    EXPECT_EQ(Long(&CFileTransfer::get_CertificateStatus),
              secure ? fileCertificateValid : fileCertificateNone);
    const std::string bytes = Pattern(300000);
    WriteFile(local_, bytes);
    ASSERT_EQ(Transfer(&CFileTransfer::PutFile, remote_), 0);
    EXPECT_TRUE(ReadFile(root_ + remote_) == bytes);
    EXPECT_EQ(Long(&CFileTransfer::get_TransferBytes), static_cast<LONG>(bytes.size()));
    std::remove(local_.c_str());
    sink_->events.clear();
    ASSERT_EQ(Transfer(&CFileTransfer::GetFile, remote_), 0);
    EXPECT_TRUE(ReadFile(local_) == bytes);
    EXPECT_EQ(Long(&CFileTransfer::get_ResultCode), 200);
    EXPECT_EQ(Text(&CFileTransfer::get_ResultString), "OK");
    EXPECT_EQ(sink_->Count(kOnCommand), 1);
    ASSERT_EQ(sink_->events.back().dispid, kOnProgress);
    EXPECT_EQ(sink_->events.back().arguments,
              (std::vector<std::string>{remote_, "300000", "300000", "100"}));
    EXPECT_EQ(CallWithError(control_, &CFileTransfer::VerifyFile, TextVariant(local_),
                            TextVariant(remote_), nullptr),
              0);

    VariantOutputs<2> size;
    size.v[0] = I4(0);
    EXPECT_EQ(CallWithError(control_, &CFileTransfer::GetFileSize, TextVariant(remote_), size[0]),
              0);
    EXPECT_EQ(size.v[0].lVal, static_cast<LONG>(bytes.size()));

    // Memory: a text goes up, a byte array of 10 takes the first 10 bytes back.
    VARIANT length = I4(5);
    EXPECT_EQ(CallWithError(control_, &CFileTransfer::PutData, TextVariant(remote_),
                            TextVariant("hello world"), &length, nullptr),
              0);
    EXPECT_EQ(ReadFile(root_ + remote_), "hello");
    VariantOutputs<1> text;
    VARIANT copied = I4(0);
    EXPECT_EQ(CallWithError(control_, &CFileTransfer::GetData, TextVariant(remote_), text[0],
                            &copied, nullptr),
              0);
    ASSERT_EQ(text.v[0].vt, VT_BSTR);
    EXPECT_EQ(Utf8FromBstr(text.v[0].bstrVal), "hello");
    EXPECT_EQ(copied.lVal, 5);

    EXPECT_EQ(CallWithError(control_, &CFileTransfer::DeleteFile, TextVariant(remote_)), 0);
    EXPECT_FALSE(std::ifstream(root_ + remote_).good());

    // A redirect loop is followed four times, then the method's error, with
    // no redirect page left as the file.
    std::remove(local_.c_str());
    sink_->events.clear();
    EXPECT_EQ(Transfer(&CFileTransfer::GetFile, "/redirect-loop"), fileErrorResourceRedirected);
    EXPECT_EQ(Long(&CFileTransfer::get_LastError), fileErrorResourceRedirected);
    EXPECT_FALSE(std::ifstream(local_).good());
    EXPECT_EQ(sink_->Count(kOnCommand), 5);
    EXPECT_EQ(sink_->Count(kOnError), 1);
    sink_->events.clear();
    // An error status is the method's error and writes no file; it is
    // reported by the engine's notification and by the method.
    EXPECT_EQ(Transfer(&CFileTransfer::GetFile, "/missing.txt"), fileErrorResourceNotFound);
    EXPECT_FALSE(std::ifstream(local_).good());
    EXPECT_EQ(sink_->Trace().find("OnError 12275"), 0u) << sink_->Trace();
    EXPECT_EQ(sink_->Count(kOnError), 2);
    sink_->events.clear();
    ASSERT_EQ(Transfer(&CFileTransfer::GetFile, "/echo"), 0);
    // "Cache-Control" in HTTP/1.1, "Pragma" in 1.0.
    EXPECT_NE(ReadFile(local_).find("no-cache"), std::string::npos) << ReadFile(local_);
    EXPECT_EQ(sink_->Count(kOnError), 0);
    EXPECT_EQ(CallWithError(control_, &CFileTransfer::Disconnect), 0);
    EXPECT_EQ(Long(&CFileTransfer::get_ResultCode), 0);
}

INSTANTIATE_TEST_SUITE_P(Schemes, ControlHttpTest,
                         ::testing::Values(Scheme{"http", "FT_TEST_HTTP_PORT"},
                                           Scheme{"https", "FT_TEST_HTTPS_PORT"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
