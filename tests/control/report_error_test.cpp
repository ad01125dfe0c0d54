#include "control_test_support.h"

namespace {

class ErrorReporting : public ControlTest {
  protected:
    void SetUp() override {
        ControlTest::SetUp();
        sink_ = RecordingSink::Create();
        ComPtr<IConnectionPoint> point;
        ASSERT_EQ(control_->FindConnectionPoint(DIID__IFileTransferEvents, point.Receive()), S_OK);
        ASSERT_EQ(point->Advise(sink_, &cookie_), S_OK);
    }
    void TearDown() override {
        if (sink_) sink_->Release();
        ControlTest::TearDown();
    }

    // The thread's error information: source and description, then cleared.
    std::pair<std::string, std::string> TakeErrorInfo() {
        ComPtr<IErrorInfo> info;
        if (GetErrorInfo(0, info.Receive()) != S_OK || !info) return {};
        BSTR source = nullptr, description = nullptr;
        info->GetSource(&source);
        info->GetDescription(&description);
        GUID guid{};
        info->GetGUID(&guid);
        EXPECT_TRUE(guid == IID_IFileTransfer);
        std::pair<std::string, std::string> result{Utf8FromBstr(source), Utf8FromBstr(description)};
        SysFreeString(source);
        SysFreeString(description);
        return result;
    }

    RecordingSink* sink_ = nullptr;
    DWORD cookie_ = 0;
};

TEST_F(ErrorReporting, TableCodeSetsLastErrorErrorInfoAndResult) {
    ASSERT_EQ(control_->put_ServerType(1), S_OK);
    const HRESULT hr = control_->ReportError(MakeErrorCode(fileErrorOperationTimeout), true, false);
    EXPECT_EQ(hr, MakeHResult(0x800A274C));
    EXPECT_EQ(Long(&CFileTransfer::get_LastError), 10060);
    EXPECT_EQ(control_->State().lastError, 0x8004274Cu);
    EXPECT_EQ(Text(&CFileTransfer::get_LastErrorString), "The specified operation has timed out");
    const auto [source, description] = TakeErrorInfo();
    EXPECT_EQ(source, "Tollane.FileTransfer.7");
    EXPECT_EQ(description, "The specified operation has timed out");
    EXPECT_TRUE(sink_->events.empty());
}

TEST_F(ErrorReporting, WithoutReturnFailureTheResultIsSuccess) {
    EXPECT_EQ(control_->ReportError(MakeErrorCode(fileErrorAccessDenied), false, false), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_LastError), fileErrorAccessDenied);
    EXPECT_EQ(TakeErrorInfo().second, "Access denied");
}

TEST_F(ErrorReporting, RaisingTheEventPassesNumberAndText) {
    control_->ReportError(MakeErrorCode(fileErrorConnectionRefused), false, true);
    ASSERT_EQ(sink_->events.size(), 1u);
    const RecordingSink::Event& event = sink_->events[0];
    EXPECT_EQ(event.dispid, 3);
    ASSERT_EQ(event.arguments.size(), 2u);
    EXPECT_EQ(event.types[0], VT_I4);
    EXPECT_EQ(event.arguments[0], "10061");
    EXPECT_EQ(event.types[1], VT_BSTR);
    EXPECT_EQ(event.arguments[1], "The connection has been refused by the remote host");
}

TEST_F(ErrorReporting, InvalidHandleWithoutConnectionMeansNotConnected) {
    ASSERT_EQ(control_->put_ServerType(2), S_OK);
    EXPECT_EQ(control_->ReportError(MakeErrorCode(fileErrorInvalidHandle), true, false),
              kAutomationErrorBase + fileErrorNotConnected);
    EXPECT_EQ(Long(&CFileTransfer::get_LastError), fileErrorNotConnected);
}

TEST_F(ErrorReporting, UndefinedServerTypeWithoutCodeIsInvalidProtocol) {
    EXPECT_EQ(control_->ReportError(0, true, true),
              kAutomationErrorBase + fileErrorInvalidProtocol);
    EXPECT_EQ(Long(&CFileTransfer::get_LastError), fileErrorInvalidProtocol);
    EXPECT_EQ(TakeErrorInfo().second, "Invalid server type or server type is undefined");
    ASSERT_EQ(sink_->events.size(), 1u);
    EXPECT_EQ(sink_->events[0].arguments[1], "Invalid server type or server type is undefined");
    // The stored code still has the table's own text.
    EXPECT_EQ(Text(&CFileTransfer::get_LastErrorString), "Invalid network protocol specified");
}

TEST_F(ErrorReporting, CodeOutsideTheTableGetsTheFallbackText) {
    const HRESULT hr = control_->ReportError(0x80070005u, true, true);
    EXPECT_EQ(hr, MakeHResult(0x800A0005u | 0x80070005u));
    EXPECT_EQ(TakeErrorInfo().second, "Undefined control error (0x80070005)");
    EXPECT_EQ(control_->State().lastError, 0x80070005u);
    // A table code without a text also falls back.
    control_->ReportError(MakeErrorCode(10025), false, false);
    EXPECT_EQ(TakeErrorInfo().second, "Undefined control error (0x80042729)");
}

// ---- LastError and LastErrorString ------------------------------------------------

TEST_F(ErrorReporting, LastErrorWritesTakeNumbersOrCodes) {
    ASSERT_EQ(control_->put_LastError(10057), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_LastError), 10057);
    EXPECT_EQ(control_->State().lastError, 0x80042749u);
    EXPECT_EQ(Text(&CFileTransfer::get_LastErrorString),
              "No connection established with remote host");
    ASSERT_EQ(control_->put_LastError(static_cast<LONG>(0x8004274Cu)), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_LastError), 10060);
    EXPECT_EQ(Text(&CFileTransfer::get_LastErrorString), "The specified operation has timed out");
    ASSERT_EQ(control_->put_LastError(0), S_OK);
    EXPECT_EQ(Text(&CFileTransfer::get_LastErrorString), "No error");
}

TEST_F(ErrorReporting, LastErrorStringFallsBackForUnknownCodes) {
    ASSERT_EQ(control_->put_LastError(65535), S_OK);
    EXPECT_EQ(Text(&CFileTransfer::get_LastErrorString), "Undefined control error (0x8004FFFF)");
    ASSERT_EQ(control_->put_LastError(0x10000), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_LastError), 0);
    EXPECT_EQ(Text(&CFileTransfer::get_LastErrorString), "Undefined control error (0x00010000)");
}

}  // namespace
