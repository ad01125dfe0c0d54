// GetMultipleFiles and PutMultipleFiles: no connection of their own, the HTTP
// refusal, how their arguments reach the engine, and their failures reported
// through Error and OnError. The copying itself is the engine's
// (tests/ftp/multiple_files_test.cpp) and is checked on real servers in
// tests/integration/cli_ftp_test.cpp.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "session_test_support.h"
#include "tests/ftp/data_peer.h"

namespace {

using testsupport::DataPeer;
namespace fs = std::filesystem;

using MultipleFilesMethod = HRESULT (CFileTransfer::*)(const VARIANT*, const VARIANT*,
                                                       const VARIANT*, VARIANT*);

struct Method {
    const char* name;
    MultipleFilesMethod call;
};

constexpr Method kMethods[] = {
    {"GetMultipleFiles", &CFileTransfer::GetMultipleFiles},
    {"PutMultipleFiles", &CFileTransfer::PutMultipleFiles},
};

LONG CallMethod(CFileTransfer* control, MultipleFilesMethod method, const VARIANT* local,
                const VARIANT* remote, const VARIANT* mask, HRESULT expected) {
    VARIANT error;
    VariantInit(&error);
    EXPECT_EQ((control->*method)(local, remote, mask, &error), expected);
    return error.vt == VT_I4 ? error.lVal : -1;
}

class MultipleFilesMethods : public SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        dir_ = fs::temp_directory_path() /
               ("ft-control-multi-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override {
        SessionTest::TearDown();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    // The Error result of one call; the HRESULT must be expected.
    LONG Call(MultipleFilesMethod method, const VARIANT* local, const VARIANT* remote,
              const VARIANT* mask, HRESULT expected = S_OK) {
        return CallMethod(control_, method, local, remote, mask, expected);
    }

    fs::path dir_;
};

TEST_F(MultipleFilesMethods, TheHttpEngineRefusesAndNeitherEngineConnects) {
    TextVariant text("x");
    for (const Method& method : kMethods) {
        SCOPED_TRACE(method.name);
        sink_->events.clear();
        control_->put_ServerType(fileServerHTTP);
        EXPECT_EQ(Call(method.call, text, text, text), fileErrorOperationNotSupported);
        EXPECT_EQ(sink_->Trace(), "OnError 12201");
        EXPECT_EQ(Long(&CFileTransfer::get_LastError), fileErrorOperationNotSupported);

        control_->put_ThrowError(VARIANT_TRUE);
        Call(method.call, text, text, text, kAutomationErrorBase + fileErrorOperationNotSupported);
        control_->put_ThrowError(VARIANT_FALSE);

        // FTP without a connection: the handle error, and still no connection.
        control_->put_ServerType(fileServerFTP);
        EXPECT_EQ(Call(method.call, text, text, text), fileErrorInvalidHandle);
        EXPECT_EQ(Long(&CFileTransfer::get_LastError), fileErrorNotConnected);
    }
}

TEST_F(MultipleFilesMethods, ArgumentsAreConvertedToTextsAndAbsentOnesMeanNone) {
    DataPeer listing;
    listing.Serve({.payload = "total 0\r\n"});
    std::ofstream(dir_ / "only.bin", std::ios::binary) << std::string("\0\1\2", 3);
    DataPeer upload;
    upload.Serve({.payload = "", .receive = true});
    PeerScript script;
    LoginScript(script)
        // GetMultipleFiles(dir, absent, 42): no directory change, the mask as text.
        .Reply("TYPE A", "200 ASCII\r\n")
        .Reply("PASV", listing.PasvReply())
        .Reply("LIST 42", "150 Here comes the listing.\r\n")
        .Send("226 Done.\r\n")
        .Reply("TYPE I", "200 Binary\r\n")
        // PutMultipleFiles(dir, "up", empty): every file, in "up" and back.
        .Reply("PWD", "257 \"/home/bob\"\r\n")
        .Reply("CWD up", "250 Changed.\r\n")
        .Reply("PWD", "257 \"/home/bob/up\"\r\n")
        .Reply("PASV", upload.PasvReply())
        .Reply("STOR only.bin", "150 Send it.\r\n")
        .Send("226 Stored.\r\n")
        .Reply("CWD /home/bob", "250 Changed.\r\n")
        .Reply("PWD", "257 \"/home/bob\"\r\n");
    QuitScript(script);
    ScriptedPeer peer(script);
    ASSERT_EQ(ConnectTo(peer), 0);

    TextVariant local(dir_.string());
    VARIANT number = I4(42);
    EXPECT_EQ(Call(&CFileTransfer::GetMultipleFiles, local, nullptr, &number),
              fileErrorDirectoryEmpty);
    EXPECT_EQ(sink_->Count(kOnError), 1);

    TextVariant remote("up");
    TextVariant empty("");
    EXPECT_EQ(Call(&CFileTransfer::PutMultipleFiles, local, remote, empty), 0);
    upload.Join();
    EXPECT_TRUE(upload.received() == std::string("\0\1\2", 3));
    EXPECT_EQ(sink_->Count(kOnError), 1);
    EXPECT_EQ(control_->Disconnect(nullptr), S_OK);
    EXPECT_EQ(peer.Finish(), "");
}

}  // namespace
