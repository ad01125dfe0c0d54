// Starting and stopping the engines, Reset, Disconnect and the error texts of
// the lifecycle.
#include <string>

#include "net/trace.h"
#include "session_test_support.h"
#include "support/test_files.h"

namespace {

class Lifecycle : public SessionTest {
  protected:
    // The FTP engine accepts work: an unknown handle is the handle error, not
    // the not-initialized one.
    static bool EnginesRun() {
        FtpGetPriority(12345);
        return FtpGetLastError() == MakeErrorCode(fileErrorInvalidHandle);
    }
};

TEST_F(Lifecycle, InitializeStartsBothEnginesAndRecordsTheSocketLibrary) {
    VARIANT error = I4(99);
    EXPECT_EQ(control_->Initialize(&error), S_OK);
    EXPECT_EQ(error.lVal, 0);
    const std::string library = Text(&CFileTransfer::get_Library);
    EXPECT_FALSE(library.empty());
    EXPECT_EQ(library.front(), '/');
    EXPECT_TRUE(EnginesRun());
    EXPECT_TRUE(sink_->events.empty());
    // A second stop does nothing, and the engines start again. (What the stop
    // ends is seen in ScriptedSession's stale-handle test.)
    EXPECT_EQ(control_->Uninitialize(), S_OK);
    EXPECT_EQ(control_->Uninitialize(), S_OK);
    EXPECT_EQ(control_->Initialize(nullptr), S_OK);
    EXPECT_TRUE(EnginesRun());
}

TEST_F(Lifecycle, InitializeAtDesignTimeGivesErrorFiveAndStartsNothing) {
    AmbientHost* host = AmbientHost::Create(BoolVariant(false));
    ASSERT_EQ(control_->SetClientSite(host), S_OK);
    VARIANT error{};
    EXPECT_EQ(control_->Initialize(&error), S_OK);
    EXPECT_EQ(error.vt, VT_I4);
    EXPECT_EQ(error.lVal, 5);

    ASSERT_EQ(control_->put_ThrowError(VARIANT_TRUE), S_OK);
    EXPECT_EQ(control_->Initialize(&error), CTL_E_ILLEGALFUNCTIONCALL);
    EXPECT_EQ(error.lVal, 5);
    EXPECT_TRUE(sink_->events.empty());
    control_->SetClientSite(nullptr);
    host->Release();
    EXPECT_EQ(Text(&CFileTransfer::get_Library), "");
}

TEST_F(Lifecycle, ResetKeepsTheEnginesAndReturnsPropertiesToDefaults) {
    ASSERT_EQ(control_->Initialize(nullptr), S_OK);
    const std::string library = Text(&CFileTransfer::get_Library);
    ASSERT_EQ(SetText(&CFileTransfer::put_ServerName, "example.com"), S_OK);
    ASSERT_EQ(control_->put_Timeout(3), S_OK);
    ASSERT_EQ(control_->put_ServerType(fileServerHTTP), S_OK);
    ASSERT_EQ(control_->put_LastError(fileErrorOperationTimeout), S_OK);
    ASSERT_EQ(control_->put_ThrowError(VARIANT_TRUE), S_OK);
    BSTR version = nullptr;
    ASSERT_EQ(control_->get_Version(&version), S_OK);
    SysFreeString(version);

    EXPECT_EQ(control_->Reset(), S_OK);
    EXPECT_EQ(Text(&CFileTransfer::get_Library), library);
    EXPECT_TRUE(EnginesRun());
    EXPECT_EQ(Text(&CFileTransfer::get_ServerName), "");
    EXPECT_EQ(Long(&CFileTransfer::get_Timeout), 20);
    EXPECT_EQ(Long(&CFileTransfer::get_ServerType), fileServerUndefined);
    EXPECT_EQ(Long(&CFileTransfer::get_LastError), 0);
    EXPECT_FALSE(Bool(&CFileTransfer::get_ThrowError));

    // A connect after Reset uses the started engines as they are.
    EXPECT_EQ(ConnectWith(nullptr), fileErrorInvalidHostName);
    EXPECT_EQ(Text(&CFileTransfer::get_Library), library);
}

TEST_F(Lifecycle, DestroyingTheControlLeavesItsConnectionUntilTheModuleEnds) {
    PeerScript script;
    LoginScript(script).Reply("NOOP", "200 NOOP ok.\r\n").ReadToEnd();
    ScriptedPeer peer(script);
    ASSERT_EQ(ConnectTo(peer), 0);
    const auto handle = static_cast<FtpClient>(control_->State().clientHandle);
    control_->Release();
    control_ = nullptr;

    // The engine still owns the connection, and the module may not go.
    EXPECT_EQ(FtpCommand(handle, "NOOP", nullptr), 200);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    // The module's end stops the engines, whose last stop closes it.
    EXPECT_EQ(ReleaseKeptEngineStarts(), 1);
    EXPECT_EQ(peer.Finish(), "");  // the peer read to the end of the stream
    EXPECT_EQ(peer.Transcript(), "USER bob|PASS secret|SYST|FEAT|TYPE I|PWD|NOOP");
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

}  // namespace

// Tracing follows Trace, TraceFile and TraceFlags while the engines run, and a
// file that cannot be written turns Trace back to FALSE.
class Tracing : public SessionTest {
  protected:
    void TearDown() override {
        control_->Uninitialize();
        SessionTest::TearDown();
    }
    std::string FileText(const std::string& name) const { return ReadFile(folder_ + "/" + name); }
    ScratchFolder scratch_{"fttrace"};
    const std::string folder_ = scratch_.path().string();
};

TEST_F(Tracing, StartsWithTheEnginesFollowsTheSettingsAndStopsOnReset) {
    ASSERT_EQ(SetText(&CFileTransfer::put_TraceFile, folder_ + "/first.txt"), S_OK);
    ASSERT_EQ(control_->put_Trace(VARIANT_TRUE), S_OK);
    EXPECT_TRUE(FileText("first.txt").empty());  // nothing before the engines start
    ASSERT_EQ(control_->Initialize(nullptr), S_OK);
    EXPECT_TRUE(Bool(&CFileTransfer::get_Trace));
    EXPECT_NE(FileText("first.txt").find("trace on, flags 0x0"), std::string::npos);

    ASSERT_EQ(control_->put_TraceFlags(4), S_OK);  // restarts with the new flags
    EXPECT_NE(FileText("first.txt").find("trace on, flags 0x4"), std::string::npos);
    ASSERT_EQ(SetText(&CFileTransfer::put_TraceFile, folder_ + "/second.txt"), S_OK);
    EXPECT_TRUE(Bool(&CFileTransfer::get_Trace));
    EXPECT_NE(FileText("second.txt").find("trace on"), std::string::npos);

    ASSERT_EQ(SetText(&CFileTransfer::put_TraceFile, folder_ + "/missing/third.txt"), S_OK);
    EXPECT_FALSE(Bool(&CFileTransfer::get_Trace));
    EXPECT_EQ(NetTraceOff(), 0);  // nothing left running

    ASSERT_EQ(SetText(&CFileTransfer::put_TraceFile, folder_ + "/fourth.txt"), S_OK);
    ASSERT_EQ(control_->put_Trace(VARIANT_TRUE), S_OK);
    EXPECT_TRUE(Bool(&CFileTransfer::get_Trace));
    EXPECT_EQ(control_->Reset(), S_OK);
    EXPECT_NE(FileText("fourth.txt").find("trace off"), std::string::npos);
    EXPECT_EQ(NetTraceOff(), 0);
}
