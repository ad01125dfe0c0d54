// The control's session, data methods and events against the real FTP servers
// of scripts/servers.sh. Files, restarts, appends and passive or active data go
// through the control in the command line's tests (cli_ftp_test.cpp,
// cli_sizes_test.cpp).
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "control/method_call_support.h"
#include "control/session_test_support.h"
#include "support/server_settings.h"
#include "support/test_files.h"

namespace {

constexpr DISPID kOnProgress = 4;

struct Server {
    const char* name;
    const char* portVariable;
};

class ControlTransferTest : public SessionTest, public ::testing::WithParamInterface<Server> {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_USER", "FT_TEST_ROOT",
                                GetParam().portVariable);
        host_ = Setting("FT_TEST_HOST");
        user_ = Setting("FT_TEST_USER");
        password_ = Setting("FT_TEST_PASSWORD");
        root_ = Setting("FT_TEST_ROOT");
        port_ = Setting(GetParam().portVariable);
        const std::string tag = std::string(GetParam().name) + "-" + std::to_string(getpid());
        remoteName_ = "ctl-transfer-" + tag + ".bin";
        local_ = testing::TempDir() + "ctl-transfer-" + tag + ".local";
    }
    void TearDown() override {
        SessionTest::TearDown();
        std::remove(local_.c_str());
        std::remove(ServerPath().c_str());
    }

    std::string Url(const std::string& file) const {
        return "ftp://" + user_ + ":" + password_ + "@" + host_ + ":" + port_ + "/" + root_ + "/" +
               file;
    }
    std::string ServerPath() const { return root_ + "/" + remoteName_; }
    std::string LastErrorString() { return Text(&CFileTransfer::get_LastErrorString); }
    // True when no connection is open: a call that needs one says so.
    bool NotConnected() {
        VariantOutputs<1> size;
        CallWithError(control_, &CFileTransfer::GetFileSize, TextVariant(remoteName_), size[0]);
        return Long(&CFileTransfer::get_LastError) == fileErrorNotConnected;
    }

    // Connects by URL; false (and the test skipped) when the server is not running.
    bool Connect() {
        VARIANT timeout = I4(10);
        const LONG error = CallWithError(control_, &CFileTransfer::Connect, TextVariant(Url("")),
                                         nullptr, nullptr, nullptr, &timeout, nullptr);
        if (error == fileErrorConnectionRefused && !InCi()) return false;
        EXPECT_EQ(error, 0) << LastErrorString();
        return error == 0;
    }

    // GetFile or PutFile between local_ and remote; the Error result.
    LONG GetFile(const std::string& remote) {
        return CallWithError(control_, &CFileTransfer::GetFile, TextVariant(local_),
                             TextVariant(remote), nullptr);
    }
    LONG PutFile(const std::string& remote) {
        return CallWithError(control_, &CFileTransfer::PutFile, TextVariant(local_),
                             TextVariant(remote), nullptr);
    }

    std::string host_, user_, password_, root_, port_, remoteName_, local_;
};

#define CONNECT_OR_SKIP() \
    if (!Connect()) GTEST_SKIP() << GetParam().name << " is not running"

// Connect by properties, over IPv4 and (where configured) IPv6 loopback.
TEST_P(ControlTransferTest, ConnectByPropertiesReadsTheSession) {
    for (const std::string& host : {host_, Setting("FT_TEST_HOST6")}) {
        if (host.empty()) continue;
        SCOPED_TRACE(host);
        VARIANT port = I4(std::stoi(port_));
        const LONG error =
            CallWithError(control_, &CFileTransfer::Connect, TextVariant(host), &port,
                          TextVariant(user_), TextVariant(password_), nullptr, nullptr);
        SKIP_IF_NOT_RUNNING(error == fileErrorConnectionRefused, GetParam().name);
        ASSERT_EQ(error, 0) << LastErrorString();
        EXPECT_EQ(Long(&CFileTransfer::get_ServerType), fileServerFTP);
        EXPECT_EQ(Text(&CFileTransfer::get_ServerDirectory), root_);
        EXPECT_NE(Text(&CFileTransfer::get_System).find("UNIX"), std::string::npos);
        EXPECT_NE(Long(&CFileTransfer::get_Features), 0);
        EXPECT_EQ(Long(&CFileTransfer::get_ResultCode) / 100, 2);
        EXPECT_FALSE(Text(&CFileTransfer::get_ResultString).empty());
        const std::string local = Text(&CFileTransfer::get_LocalAddress);
        EXPECT_EQ(local, host.find(':') == std::string::npos ? host_ : "::1");

        // Writing the directory changes it on the server.
        EXPECT_EQ(SetText(&CFileTransfer::put_ServerDirectory, root_ + "/sub"), S_OK);
        EXPECT_EQ(Text(&CFileTransfer::get_ServerDirectory), root_ + "/sub");
        EXPECT_EQ(CallWithError(control_, &CFileTransfer::Disconnect), 0);
        EXPECT_EQ(Text(&CFileTransfer::get_System), "");
    }
}

TEST_P(ControlTransferTest, DataInTextsAndByteArrays) {
    CONNECT_OR_SKIP();
    // Every byte value travels through a text, one character per byte.
    std::string all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<char>(i);
    std::u16string wide(all.begin(), all.end());
    for (auto& c : wide)
        c = static_cast<unsigned char>(c);
    const TextVariant remote(remoteName_);
    VariantOutputs<2> texts;  // sent, received
    texts[0]->vt = VT_BSTR;
    texts[0]->bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    ASSERT_EQ(CallWithError(control_, &CFileTransfer::PutData, remote, texts[0], nullptr, nullptr),
              0)
        << LastErrorString();
    EXPECT_TRUE(ReadFile(ServerPath()) == all) << "contents differ";

    VARIANT length = I4(0);
    ASSERT_EQ(CallWithError(control_, &CFileTransfer::GetData, remote, texts[1], &length, nullptr),
              0);
    ASSERT_EQ(texts[1]->vt, VT_BSTR);
    EXPECT_TRUE(std::u16string(BstrView(texts[1]->bstrVal)) == wide) << "contents differ";
    EXPECT_EQ(length.lVal, 256);

    // A byte array with Length 100 sends its first 100 bytes.
    const std::string bytes = Pattern(5000);
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, 5000);
    void* data = nullptr;
    SafeArrayAccessData(array, &data);
    std::memcpy(data, bytes.data(), bytes.size());
    SafeArrayUnaccessData(array);
    VariantOutputs<1> buffer;
    buffer[0]->vt = VT_ARRAY | VT_UI1;
    buffer[0]->parray = array;
    VARIANT limit = I4(100);
    ASSERT_EQ(CallWithError(control_, &CFileTransfer::PutData, remote, buffer[0], &limit, nullptr),
              0);
    EXPECT_TRUE(ReadFile(ServerPath()) == bytes.substr(0, 100)) << "contents differ";

    // A by-reference array of 10 elements receives 10 bytes of a longer file.
    WriteFile(ServerPath(), bytes, 0666);
    SAFEARRAY* small = SafeArrayCreateVector(VT_UI1, 0, 10);
    VARIANT byReference;
    VariantInit(&byReference);
    byReference.vt = VT_BYREF | VT_ARRAY | VT_UI1;
    byReference.pparray = &small;
    LONG count = 0;
    VARIANT countRef;
    VariantInit(&countRef);
    countRef.vt = VT_BYREF | VT_I4;
    countRef.plVal = &count;
    ASSERT_EQ(
        CallWithError(control_, &CFileTransfer::GetData, remote, &byReference, &countRef, nullptr),
        0);
    EXPECT_EQ(count, 10);
    SafeArrayAccessData(small, &data);
    EXPECT_EQ(std::string(static_cast<char*>(data), 10), bytes.substr(0, 10));
    SafeArrayUnaccessData(small);
    SafeArrayDestroy(small);
}

TEST_P(ControlTransferTest, ProgressRisesAtMostFourTimesASecondAndACancelEndsTheTransfer) {
    CONNECT_OR_SKIP();
    // Slow enough (the lowest priority throttles) to see several progress events.
    control_->put_Priority(filePriorityBackground);
    const std::string bytes = Pattern(64 << 10);
    WriteFile(ServerPath(), bytes, 0666);
    struct Progress {
        std::string fileName;
        LONG size, copied, percent;
        std::chrono::steady_clock::time_point when;
    };
    std::vector<Progress> events;
    sink_->hook = [&](const RecordingSink::Event& event) {
        if (event.dispid != kOnProgress) return;
        const auto& a = event.arguments;
        events.push_back({a[0], std::stoi(a[1]), std::stoi(a[2]), std::stoi(a[3]),
                          std::chrono::steady_clock::now()});
    };
    ASSERT_EQ(GetFile(remoteName_), 0) << LastErrorString();
    ASSERT_GE(events.size(), 2u);
    for (std::size_t i = 1; i < events.size(); ++i) {
        EXPECT_GE(events[i].copied, events[i - 1].copied);
        EXPECT_GE(events[i].percent, events[i - 1].percent);
    }
    const auto span = events.back().when - events.front().when;
    const double seconds = std::chrono::duration<double>(span).count();
    EXPECT_LE(static_cast<double>(events.size() - 2), seconds * 4 + 1) << events.size();
    EXPECT_EQ(events.back().percent, 100);
    EXPECT_EQ(events.back().copied, static_cast<LONG>(bytes.size()));
    EXPECT_EQ(events.back().size, static_cast<LONG>(bytes.size()));
    EXPECT_NE(events.back().fileName.find(remoteName_), std::string::npos);

    // Cancel from OnProgress ends the transfer with 10004; the connection goes on.
    WriteFile(ServerPath(), Pattern(1 << 20), 0666);
    bool cancelled = false;
    sink_->hook = [&](const RecordingSink::Event& event) {
        if (event.dispid != kOnProgress || cancelled) return;
        cancelled = true;
        control_->Cancel(nullptr);
    };
    EXPECT_EQ(GetFile(remoteName_), fileErrorOperationCanceled);
    EXPECT_EQ(sink_->Count(kOnCancel), 1);
    WriteFile(local_, "after");
    EXPECT_EQ(PutFile(remoteName_), 0) << LastErrorString();
    EXPECT_EQ(ReadFile(ServerPath()), "after");
}

TEST_P(ControlTransferTest, OneCallConnectionAndRefusedTransfer) {
    // Not connected: a URL as RemoteFile connects, downloads and disconnects.
    const std::string bytes = Pattern(4096);
    WriteFile(ServerPath(), bytes, 0666);
    const LONG error = GetFile(Url(remoteName_));
    SKIP_IF_NOT_RUNNING(error == fileErrorConnectionRefused, GetParam().name);
    ASSERT_EQ(error, 0) << LastErrorString();
    EXPECT_TRUE(ReadFile(local_) == bytes) << "contents differ";
    EXPECT_TRUE(NotConnected());
    EXPECT_NE(Text(&CFileTransfer::get_Resource).find(remoteName_), std::string::npos);

    // A refused RETR keeps its error through the disconnect and leaves no file.
    std::remove(local_.c_str());
    EXPECT_EQ(GetFile(Url("no-such-file.bin")), fileErrorAccessDenied);
    EXPECT_EQ(Long(&CFileTransfer::get_LastError) & 0xFFFF, fileErrorAccessDenied);
    EXPECT_FALSE(std::ifstream(local_).good());
    EXPECT_TRUE(NotConnected());
}

INSTANTIATE_TEST_SUITE_P(Servers, ControlTransferTest,
                         ::testing::Values(Server{"vsftpd", "FT_TEST_FTP_PORT"},
                                           Server{"proftpd", "FT_TEST_PROFTPD_PORT"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
