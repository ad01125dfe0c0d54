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
    VARIANT error{};
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

}  // namespace
