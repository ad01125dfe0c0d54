// ReportError, LastError and LastErrorString: the numbers, texts, results,
// error information and OnError events of a failure.
#include "session_test_support.h"

namespace {

class ErrorReporting : public SessionTest {
  protected:
    // The thread's error information (source checked): its description, or
    // "(none)"; cleared.
    std::string TakeDescription() {
        ComPtr<IErrorInfo> info;
        if (GetErrorInfo(0, info.Receive()) != S_OK || !info) return "(none)";
        BSTR source = nullptr, description = nullptr;
        info->GetSource(&source);
        info->GetDescription(&description);
        GUID guid{};
        info->GetGUID(&guid);
        EXPECT_TRUE(guid == IID_IFileTransfer);
        EXPECT_EQ(Utf8FromBstr(source), "Tollane.FileTransfer.7");
        std::string result = Utf8FromBstr(description);
        SysFreeString(source);
        SysFreeString(description);
        return result;
    }
};

struct Report {
    const char* label;
    LONG serverType;
    int engineError;  // the HTTP engine's last error before the call
    DWORD code;
    bool returnFailure, raiseEvent;
    HRESULT result;
    LONG lastError;           // -1: not checked
    const char* description;  // of the error information and the event; "(none)"
    const char* lastErrorString;
};

const Report kReports[] = {
    {"TableCode", fileServerFTP, 0, MakeErrorCode(fileErrorOperationTimeout), true, false,
     MakeHResult(0x800A274C), 10060, "The specified operation has timed out",
     "The specified operation has timed out"},
    {"WithoutReturnFailureTheResultIsSuccess", 0, 0, MakeErrorCode(fileErrorAccessDenied), false,
     false, S_OK, fileErrorAccessDenied, "Access denied", "Access denied"},
    {"EventCarriesNumberAndText", 0, 0, MakeErrorCode(fileErrorConnectionRefused), false, true,
     S_OK, fileErrorConnectionRefused, "The connection has been refused by the remote host",
     nullptr},
    {"InvalidHandleWithoutConnectionMeansNotConnected", fileServerHTTP, 0,
     MakeErrorCode(fileErrorInvalidHandle), true, false,
     kAutomationErrorBase + fileErrorNotConnected, fileErrorNotConnected, nullptr, nullptr},
    // The stored code keeps the table's own text.
    {"UndefinedServerTypeWithoutCodeIsInvalidProtocol", 0, 0, 0, true, true,
     kAutomationErrorBase + fileErrorInvalidProtocol, fileErrorInvalidProtocol,
     "Invalid server type or server type is undefined", "Invalid network protocol specified"},
    // A code outside the table's facility keeps its own bits in the result.
    {"CodeOutsideTheTable", 0, 0, 0x80070005u, true, true, MakeHResult(0x800A0005u | 0x80070005u),
     -1, "Undefined control error (0x80070005)", nullptr},
    {"TableCodeWithoutText", fileServerFTP, 0, 0x80041234u, true, false, MakeHResult(0x800A1234),
     -1, "Undefined control error (0x80041234)", "Undefined control error (0x80041234)"},
    {"ZeroReportsTheEnginesLastError", fileServerHTTP, fileErrorResourceNotFound, 0, true, true,
     MakeHResult(0x800A0000u + 12275), 12275, "The specified resource cannot be found", nullptr},
    {"ZeroWithoutEngineErrorReportsNothing", fileServerHTTP, 0, 0, true, true, S_OK, 0, "(none)",
     "No error"},
};

TEST_F(ErrorReporting, ReportErrorSetsResultLastErrorErrorInfoAndEvent) {
    for (const Report& r : kReports) {
        SCOPED_TRACE(r.label);
        ASSERT_EQ(control_->put_ServerType(r.serverType), S_OK);
        HttpSetLastError(r.engineError);
        SetErrorInfo(0, nullptr);
        sink_->events.clear();
        EXPECT_EQ(control_->ReportError(r.code, r.returnFailure, r.raiseEvent), r.result);
        if (r.lastError >= 0) {
            EXPECT_EQ(Long(&CFileTransfer::get_LastError), r.lastError);
        }
        if (r.description) {
            EXPECT_EQ(TakeDescription(), r.description);
        }
        if (r.lastErrorString) {
            EXPECT_EQ(Text(&CFileTransfer::get_LastErrorString), r.lastErrorString);
        }
        const bool raised = r.raiseEvent && r.lastError != 0;
        ASSERT_EQ(sink_->events.size(), raised ? 1u : 0u);
        if (!raised) continue;
        const RecordingSink::Event& event = sink_->events[0];
        EXPECT_EQ(event.dispid, kOnError);
        EXPECT_EQ(event.types, (std::vector<VARTYPE>{VT_I4, VT_BSTR}));
        if (r.lastError > 0) {
            EXPECT_EQ(event.arguments[0], std::to_string(r.lastError));
        }
        EXPECT_EQ(event.arguments[1], r.description);
    }
    HttpSetLastError(0);
}

TEST_F(ErrorReporting, LastErrorWritesTakeNumbersOrCodes) {
    struct Write {
        LONG written;
        LONG read;  // -1: not checked
        const char* text;
    };
    for (const Write& w :
         {Write{10057, 10057, "No connection established with remote host"},
          Write{static_cast<LONG>(0x8004274Cu), 10060, "The specified operation has timed out"},
          Write{0, 0, "No error"}, Write{65535, -1, "Undefined control error (0x8004FFFF)"},
          Write{0x10000, 0, "Undefined control error (0x00010000)"}}) {
        SCOPED_TRACE(w.written);
        ASSERT_EQ(control_->put_LastError(w.written), S_OK);
        if (w.read >= 0) {
            EXPECT_EQ(Long(&CFileTransfer::get_LastError), w.read);
        }
        EXPECT_EQ(Text(&CFileTransfer::get_LastErrorString), w.text);
    }
}

TEST_F(ErrorReporting, LastErrorWritesReachTheEnginesOfTheServerType) {
    ASSERT_EQ(control_->put_LastError(fileErrorOperationTimeout), S_OK);
    EXPECT_EQ(FtpGetLastError(), 0x8004274Cu);
    EXPECT_EQ(HttpGetLastError(), 0x8004274Cu);
    ASSERT_EQ(control_->put_ServerType(fileServerFTP), S_OK);
    ASSERT_EQ(control_->put_LastError(fileErrorNotConnected), S_OK);
    EXPECT_EQ(FtpGetLastError(), MakeErrorCode(fileErrorNotConnected));
    EXPECT_EQ(HttpGetLastError(), 0x8004274Cu);
    ASSERT_EQ(control_->put_ServerType(fileServerHTTP), S_OK);
    ASSERT_EQ(control_->put_LastError(0), S_OK);
    EXPECT_EQ(HttpGetLastError(), 0u);
    EXPECT_EQ(FtpGetLastError(), MakeErrorCode(fileErrorNotConnected));
}

}  // namespace
