// The failure paths shared by the directory and file methods: not connected,
// not supported by the HTTP engine, argument conversions that end a method
// before any effect, and AddFileType's no-op cases.
#include <cstdlib>
#include <functional>

#include "ftp/file_types.h"
#include "session_test_support.h"

namespace {

struct Call {
    const char* label;
    std::function<HRESULT(CFileTransfer&, VARIANT* error)> run;
};

void PrintTo(const Call& call, std::ostream* out) {
    *out << call.label;
}

// Each method with its arguments filled with harmless values.
const Call kCalls[] = {
    {"ChangeDirectory",
     [](CFileTransfer& c, VARIANT* e) { return c.ChangeDirectory(TextVariant("d"), e); }},
    {"OpenDirectory",
     [](CFileTransfer& c, VARIANT* e) { return c.OpenDirectory(nullptr, nullptr, e); }},
    {"ReadDirectory",
     [](CFileTransfer& c, VARIANT* e) {
         VARIANT name{};
         return c.ReadDirectory(&name, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, e);
     }},
    {"GetFileStatus",
     [](CFileTransfer& c, VARIANT* e) {
         return c.GetFileStatus(TextVariant("f"), nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, e);
     }},
    {"DeleteFile", [](CFileTransfer& c, VARIANT* e) { return c.DeleteFile(TextVariant("f"), e); }},
    {"RenameFile", [](CFileTransfer& c,
                      VARIANT* e) { return c.RenameFile(TextVariant("a"), TextVariant("b"), e); }},
    {"MakeDirectory",
     [](CFileTransfer& c, VARIANT* e) { return c.MakeDirectory(TextVariant("d"), e); }},
    {"RemoveDirectory",
     [](CFileTransfer& c, VARIANT* e) { return c.RemoveDirectory(TextVariant("d"), e); }},
};

class NotConnected : public SessionTest, public ::testing::WithParamInterface<Call> {};

// The handle error goes into Error; LastError and the one OnError say "not
// connected". ThrowError turns it into an automation failure.
TEST_P(NotConnected, ErrorHoldsTheHandleErrorAndTheEventSaysNotConnected) {
    ASSERT_EQ(control_->put_ServerType(fileServerFTP), S_OK);
    VARIANT error{};
    EXPECT_EQ(GetParam().run(*control_, &error), S_OK);
    EXPECT_EQ(error.vt, VT_I4);
    EXPECT_EQ(error.lVal, fileErrorInvalidHandle);
    EXPECT_EQ(Long(&CFileTransfer::get_LastError), fileErrorNotConnected);
    EXPECT_EQ(sink_->Trace(), "OnError 10057");
    ASSERT_EQ(control_->put_ThrowError(VARIANT_TRUE), S_OK);
    EXPECT_EQ(GetParam().run(*control_, &error), MakeHResult(0x800A0000u + fileErrorNotConnected));
    EXPECT_EQ(sink_->Count(kOnError), 2);
}

INSTANTIATE_TEST_SUITE_P(Methods, NotConnected, ::testing::ValuesIn(kCalls));

class FileMethods : public SessionTest {
  protected:
    LONG ErrorOf(const std::function<HRESULT(CFileTransfer&, VARIANT*)>& run,
                 HRESULT expected = S_OK) {
        VARIANT error{};
        EXPECT_EQ(run(*control_, &error), expected);
        return error.vt == VT_I4 ? error.lVal : -1;
    }
};

TEST_F(FileMethods, HttpServerTypeRefusesTheFtpOnlyMethodsAsNotSupported) {
    ASSERT_EQ(control_->put_ServerType(fileServerHTTP), S_OK);
    const std::function<HRESULT(CFileTransfer&, VARIANT*)> calls[] = {
        [](CFileTransfer& c, VARIANT* e) {
            return c.RenameFile(TextVariant("a"), TextVariant("b"), e);
        },
        [](CFileTransfer& c, VARIANT* e) { return c.MakeDirectory(TextVariant("d"), e); },
        [](CFileTransfer& c, VARIANT* e) { return c.RemoveDirectory(TextVariant("d"), e); },
        [](CFileTransfer& c, VARIANT* e) { return c.ChangeDirectory(TextVariant("d"), e); },
        [](CFileTransfer& c, VARIANT* e) { return c.OpenDirectory(nullptr, nullptr, e); },
        [](CFileTransfer& c, VARIANT* e) { return c.CloseDirectory(e); },
        [](CFileTransfer& c, VARIANT* e) {
            TextVariant path("");
            return c.GetDirectory(const_cast<VARIANT*>(path.get()), e);
        },
        [](CFileTransfer& c, VARIANT* e) {
            VARIANT perms = I4(7);
            return c.GetFilePermissions(TextVariant("f"), &perms, e);
        },
        [](CFileTransfer& c, VARIANT* e) {
            VARIANT perms = I4(0644);
            return c.SetFilePermissions(TextVariant("f"), &perms, e);
        },
        [](CFileTransfer& c, VARIANT* e) {
            VARIANT buffer{};
            return c.GetFileList(TextVariant(""), &buffer, nullptr, nullptr, e);
        },
    };
    int expectedEvents = 0;
    for (const auto& call : calls) {
        EXPECT_EQ(ErrorOf(call), fileErrorOperationNotSupported);
        EXPECT_EQ(Long(&CFileTransfer::get_LastError), fileErrorOperationNotSupported);
        EXPECT_EQ(sink_->Count(kOnError), ++expectedEvents);
    }
}

// Without a connection: only the FTP engine lists (an undefined server type
// does not either); the HTTP engine's file operations and CloseDirectory are
// not connected.
TEST_F(FileMethods, OperationsWithoutAConnectionAreNotConnected) {
    VARIANT buffer{};
    EXPECT_EQ(ErrorOf([&buffer](CFileTransfer& c, VARIANT* e) {
                  return c.GetFileList(nullptr, &buffer, nullptr, nullptr, e);
              }),
              fileErrorOperationNotSupported);
    EXPECT_EQ(buffer.vt, VT_EMPTY);
    ASSERT_EQ(control_->put_ServerType(fileServerHTTP), S_OK);
    EXPECT_EQ(
        ErrorOf([](CFileTransfer& c, VARIANT* e) { return c.DeleteFile(TextVariant("f"), e); }),
        fileErrorInvalidHandle);
    EXPECT_EQ(Long(&CFileTransfer::get_LastError), fileErrorNotConnected);
    VARIANT size = I4(5);
    EXPECT_EQ(ErrorOf([&size](CFileTransfer& c, VARIANT* e) {
                  return c.GetFileSize(TextVariant("f"), &size, e);
              }),
              fileErrorInvalidHandle);
    EXPECT_EQ(size.lVal, 0);  // cleared before the work
    ASSERT_EQ(control_->put_ServerType(fileServerFTP), S_OK);
    EXPECT_EQ(ErrorOf([](CFileTransfer& c, VARIANT* e) { return c.CloseDirectory(e); }),
              fileErrorNotConnected);
    EXPECT_EQ(sink_->Trace(), "OnError 12201|OnError 10057|OnError 10057|OnError 10057");
}

TEST_F(FileMethods, RefusedOutputsEndTheMethodBeforeAnyEffect) {
    ASSERT_EQ(control_->put_ServerType(fileServerFTP), S_OK);
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, 1);
    VARIANT arrayOutput{};
    arrayOutput.vt = VT_ARRAY | VT_BSTR;
    arrayOutput.parray = array;
    EXPECT_EQ(ErrorOf([&](CFileTransfer& c,
                          VARIANT* e) { return c.GetFileTime(TextVariant("f"), &arrayOutput, e); },
                      DISP_E_TYPEMISMATCH),
              -1);
    SHORT small = 0;
    VARIANT shortReference{};
    shortReference.vt = VT_BYREF | VT_DATE;
    shortReference.piVal = &small;
    EXPECT_EQ(
        ErrorOf([&](CFileTransfer& c,
                    VARIANT* e) { return c.GetFileSize(TextVariant("f"), &shortReference, e); },
                DISP_E_TYPEMISMATCH),
        -1);
    EXPECT_EQ(ErrorOf([](CFileTransfer& c,
                         VARIANT* e) { return c.GetFileTime(TextVariant("f"), nullptr, e); },
                      E_INVALIDARG),
              -1);
    EXPECT_EQ(sink_->Count(kOnError), 0);
    VariantClear(&arrayOutput);
}

TEST_F(FileMethods, AddFileTypeFailureIsAnAutomationErrorWithoutEvent) {
    // The engines are not started: the rule cannot be kept.
    ASSERT_EQ(control_->put_ServerType(fileServerFTP), S_OK);
    VARIANT text = I4(fileTypeText);
    const HRESULT hr = control_->AddFileType(TextVariant("abc"), &text);
    EXPECT_EQ(hr, MakeHResult(0x800A0000u + static_cast<DWORD>(fileErrorNetworkNotInitialized)));
    EXPECT_EQ(Long(&CFileTransfer::get_LastError), fileErrorNetworkNotInitialized);
    EXPECT_EQ(sink_->Count(kOnError), 0);
}

}  // namespace
