// The control's transfer methods and events against the real FTP servers that
// scripts/servers.sh runs on loopback. Without their settings the tests skip,
// unless CI=true.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "control/FileTransfer.h"
#include "platform/text.h"
#include "resources/errors.h"
#include "support/server_settings.h"

namespace {

constexpr DISPID kOnCancel = 1;
constexpr DISPID kOnError = 3;
constexpr DISPID kOnProgress = 4;

VARIANT Text(const std::string& text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = BstrFromUtf8(text);
    return v;
}

VARIANT Long(LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

// A VARIANT that frees what it holds.
struct Arg {
    VARIANT v;
    explicit Arg(VARIANT value) : v(value) {}
    ~Arg() { VariantClear(&v); }
    Arg(const Arg&) = delete;
    Arg& operator=(const Arg&) = delete;
    VARIANT* operator&() { return &v; }
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A file the test puts into the server's area; the servers run as the test
// user, so it must stay writable for them.
void WriteServerFile(const std::string& path, const std::string& bytes) {
    WriteFile(path, bytes);
    chmod(path.c_str(), 0666);
}

// Bytes of every value, in a pattern that shows shifted or lost blocks.
std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

struct ProgressEvent {
    LONG size, copied, percent;
    std::chrono::steady_clock::time_point when;
};

class EventSink final : public ComObject<IDispatch> {
  public:
    static EventSink* Create() { return new EventSink(); }
    HRESULT GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                   UINT*) override {
        dispids.push_back(member);
        if (member == kOnProgress) {
            progress.push_back(
                {DispParamsArgument(params, 1)->lVal, DispParamsArgument(params, 2)->lVal,
                 DispParamsArgument(params, 3)->lVal, std::chrono::steady_clock::now()});
            fileName = Utf8FromBstr(DispParamsArgument(params, 0)->bstrVal);
            if (onProgress) onProgress();
        }
        if (member == kOnError) errors.push_back(DispParamsArgument(params, 0)->lVal);
        return S_OK;
    }
    int Count(DISPID dispid) const {
        return static_cast<int>(std::count(dispids.begin(), dispids.end(), dispid));
    }

    std::vector<DISPID> dispids;
    std::vector<ProgressEvent> progress;
    std::vector<LONG> errors;
    std::string fileName;
    std::function<void()> onProgress;
};

struct Server {
    const char* name;
    const char* portVariable;
};

class ControlTransferTest : public ::testing::TestWithParam<Server> {
  protected:
    void SetUp() override {
        host_ = Setting("FT_TEST_HOST");
        user_ = Setting("FT_TEST_USER");
        password_ = Setting("FT_TEST_PASSWORD");
        root_ = Setting("FT_TEST_ROOT");
        port_ = Setting(GetParam().portVariable);
        if (host_.empty() || user_.empty() || port_.empty() || root_.empty()) {
            if (InCi()) FAIL() << "test server settings missing; run scripts/servers.sh start";
            GTEST_SKIP() << "no test servers configured (scripts/servers.sh start)";
        }
        const std::string tag = std::string(GetParam().name) + "-" + std::to_string(getpid());
        remoteName_ = "ctl-transfer-" + tag + ".bin";
        local_ = testing::TempDir() + "ctl-transfer-" + tag + ".local";
        control_ = CFileTransfer::Create();
        ASSERT_NE(control_, nullptr);
        sink_ = EventSink::Create();
        ComPtr<IConnectionPoint> point;
        ASSERT_EQ(control_->FindConnectionPoint(DIID__IFileTransferEvents, point.Receive()), S_OK);
        ASSERT_EQ(point->Advise(sink_, &cookie_), S_OK);
        point_ = point;
    }
    void TearDown() override {
        if (point_) point_->Unadvise(cookie_);
        if (sink_) sink_->Release();
        if (control_) control_->Release();
        std::remove(local_.c_str());
        std::remove(ServerPath().c_str());
    }

    std::string Url(const std::string& file) const {
        return "ftp://" + user_ + ":" + password_ + "@" + host_ + ":" + port_ + "/" + root_ + "/" +
               file;
    }
    std::string ServerPath() const { return root_ + "/" + remoteName_; }

    // Connects by URL; false (and the test skipped) when the server is not running.
    bool Connect() {
        Arg url(Text(Url("")));
        Arg timeout(Long(10));
        Arg error(Long(-1));
        EXPECT_EQ(control_->Connect(&url, nullptr, nullptr, nullptr, &timeout, nullptr, &error),
                  S_OK);
        if (error.v.lVal == fileErrorConnectionRefused && !InCi()) return false;
        EXPECT_EQ(error.v.lVal, 0) << LastErrorString();
        return error.v.lVal == 0;
    }

    std::string LastErrorString() {
        BSTR text = nullptr;
        control_->get_LastErrorString(&text);
        std::string result = Utf8FromBstr(text);
        SysFreeString(text);
        return result;
    }

    LONG GetFile(const std::string& remote, std::optional<LONG> restart = std::nullopt) {
        Arg local(Text(local_));
        Arg remoteArg(Text(remote));
        Arg offset(Long(restart.value_or(0)));
        Arg error(Long(-1));
        EXPECT_EQ(control_->GetFile(&local, &remoteArg, restart ? &offset : nullptr, &error), S_OK);
        return error.v.lVal;
    }
    LONG PutFile(const std::string& remote, std::optional<LONG> restart = std::nullopt) {
        Arg local(Text(local_));
        Arg remoteArg(Text(remote));
        Arg offset(Long(restart.value_or(0)));
        Arg error(Long(-1));
        EXPECT_EQ(control_->PutFile(&local, &remoteArg, restart ? &offset : nullptr, &error), S_OK);
        return error.v.lVal;
    }

    std::string host_, user_, password_, root_, port_, remoteName_, local_;
    CFileTransfer* control_ = nullptr;
    EventSink* sink_ = nullptr;
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

#define CONNECT_OR_SKIP() \
    if (!Connect()) GTEST_SKIP() << GetParam().name << " is not running"

TEST_P(ControlTransferTest, FilesRoundTripByteExactPassiveAndActive) {
    CONNECT_OR_SKIP();
    for (const bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        ASSERT_EQ(control_->put_Passive(passive ? VARIANT_TRUE : VARIANT_FALSE), S_OK);
        const std::string bytes = Pattern(passive ? 300000 : 70001);
        WriteFile(local_, bytes);
        ASSERT_EQ(PutFile(remoteName_), 0) << LastErrorString();
        EXPECT_TRUE(ReadFile(ServerPath()) == bytes);
        std::remove(local_.c_str());
        ASSERT_EQ(GetFile(remoteName_), 0) << LastErrorString();
        EXPECT_TRUE(ReadFile(local_) == bytes) << "contents differ";
        LONG transferred = 0;
        EXPECT_EQ(control_->get_TransferBytes(&transferred), S_OK);
        EXPECT_EQ(transferred, static_cast<LONG>(bytes.size()));
    }
    EXPECT_EQ(control_->State().connectionState, fileStateIdle);
}

TEST_P(ControlTransferTest, AppendFileAndRestartOffset) {
    CONNECT_OR_SKIP();
    const std::string bytes = Pattern(100000);
    WriteServerFile(ServerPath(), bytes);
    // A resumed download continues a partial local file.
    WriteFile(local_, bytes.substr(0, 40000));
    ASSERT_EQ(GetFile(remoteName_, 40000), 0) << LastErrorString();
    EXPECT_TRUE(ReadFile(local_) == bytes) << "contents differ";
    // A resumed upload continues a partial remote file.
    WriteServerFile(ServerPath(), bytes.substr(0, 25000));
    ASSERT_EQ(PutFile(remoteName_, 25000), 0) << LastErrorString();
    EXPECT_TRUE(ReadFile(ServerPath()) == bytes) << "contents differ";
    // AppendFile appends to the remote file on upload and the local one on download.
    ASSERT_EQ(control_->put_AppendFile(VARIANT_TRUE), S_OK);
    WriteFile(local_, "tail");
    ASSERT_EQ(PutFile(remoteName_), 0) << LastErrorString();
    EXPECT_TRUE(ReadFile(ServerPath()) == bytes + "tail") << "contents differ";
    WriteFile(local_, "head");
    ASSERT_EQ(GetFile(remoteName_), 0) << LastErrorString();
    EXPECT_TRUE(ReadFile(local_) == "head" + bytes + "tail") << "contents differ";
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
    Arg remote(Text(remoteName_));
    Arg text(VARIANT{});
    text.v.vt = VT_BSTR;
    text.v.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    Arg error(Long(-1));
    ASSERT_EQ(control_->PutData(&remote, &text, nullptr, nullptr, &error), S_OK);
    ASSERT_EQ(error.v.lVal, 0) << LastErrorString();
    EXPECT_TRUE(ReadFile(ServerPath()) == all) << "contents differ";

    Arg received(VARIANT{});
    Arg length(Long(0));
    ASSERT_EQ(control_->GetData(&remote, &received, &length, nullptr, &error), S_OK);
    ASSERT_EQ(received.v.vt, VT_BSTR);
    EXPECT_TRUE(std::u16string(BstrView(received.v.bstrVal)) == wide) << "contents differ";
    EXPECT_EQ(length.v.lVal, 256);

    // A byte array with Length 100 sends its first 100 bytes.
    const std::string bytes = Pattern(5000);
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, 5000);
    void* data = nullptr;
    SafeArrayAccessData(array, &data);
    std::memcpy(data, bytes.data(), bytes.size());
    SafeArrayUnaccessData(array);
    Arg buffer(VARIANT{});
    buffer.v.vt = VT_ARRAY | VT_UI1;
    buffer.v.parray = array;
    Arg limit(Long(100));
    ASSERT_EQ(control_->PutData(&remote, &buffer, &limit, nullptr, &error), S_OK);
    EXPECT_TRUE(ReadFile(ServerPath()) == bytes.substr(0, 100)) << "contents differ";

    // A by-reference array of 10 elements receives 10 bytes of a longer file.
    WriteServerFile(ServerPath(), bytes);
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
    ASSERT_EQ(control_->GetData(&remote, &byReference, &countRef, nullptr, &error), S_OK);
    EXPECT_EQ(count, 10);
    SafeArrayAccessData(small, &data);
    EXPECT_EQ(std::string(static_cast<char*>(data), 10), bytes.substr(0, 10));
    SafeArrayUnaccessData(small);
    SafeArrayDestroy(small);
}

TEST_P(ControlTransferTest, ProgressRisesAtMostFourTimesASecondAndEndsAtAHundred) {
    CONNECT_OR_SKIP();
    // Slow enough (the lowest priority throttles) to see several progress events.
    control_->put_Priority(filePriorityBackground);
    const std::string bytes = Pattern(64 << 10);
    WriteServerFile(ServerPath(), bytes);
    ASSERT_EQ(GetFile(remoteName_), 0) << LastErrorString();
    const auto& events = sink_->progress;
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
    EXPECT_NE(sink_->fileName.find(remoteName_), std::string::npos);
}

TEST_P(ControlTransferTest, CancelFromOnProgressEndsWithTenThousandFour) {
    CONNECT_OR_SKIP();
    control_->put_Priority(filePriorityBackground);
    WriteServerFile(ServerPath(), Pattern(1 << 20));
    sink_->onProgress = [this] {
        VARIANT error;
        VariantInit(&error);
        control_->Cancel(&error);
        sink_->onProgress = nullptr;
    };
    EXPECT_EQ(GetFile(remoteName_), fileErrorOperationCanceled);
    EXPECT_EQ(sink_->Count(kOnCancel), 1);
    // The connection goes on working.
    WriteFile(local_, "after");
    EXPECT_EQ(PutFile(remoteName_), 0) << LastErrorString();
    EXPECT_EQ(ReadFile(ServerPath()), "after");
}

TEST_P(ControlTransferTest, OneCallConnectionAndRefusedTransfer) {
    // Not connected: a URL as RemoteFile connects, downloads and disconnects.
    const std::string bytes = Pattern(4096);
    WriteServerFile(ServerPath(), bytes);
    const LONG error = GetFile(Url(remoteName_));
    if (error == fileErrorConnectionRefused && !InCi()) GTEST_SKIP() << "not running";
    ASSERT_EQ(error, 0) << LastErrorString();
    EXPECT_TRUE(ReadFile(local_) == bytes) << "contents differ";
    EXPECT_EQ(control_->State().clientHandle, kNoClientHandle);
    BSTR resource = nullptr;
    control_->get_Resource(&resource);
    EXPECT_NE(Utf8FromBstr(resource).find(remoteName_), std::string::npos);
    SysFreeString(resource);

    // A refused RETR keeps its error through the disconnect and leaves no file.
    std::remove(local_.c_str());
    EXPECT_EQ(GetFile(Url("no-such-file.bin")), fileErrorAccessDenied);
    LONG last = 0;
    control_->get_LastError(&last);
    EXPECT_EQ(last & 0xFFFF, fileErrorAccessDenied);
    EXPECT_FALSE(std::ifstream(local_).good());
    EXPECT_EQ(control_->State().clientHandle, kNoClientHandle);
}

INSTANTIATE_TEST_SUITE_P(Servers, ControlTransferTest,
                         ::testing::Values(Server{"vsftpd", "FT_TEST_FTP_PORT"},
                                           Server{"proftpd", "FT_TEST_PROFTPD_PORT"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
