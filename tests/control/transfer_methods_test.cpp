// The transfer methods' argument rules and failure paths, without a server (the transfers
// themselves are exercised against real servers in tests/integration/control_transfer_test.cpp).
#include <gtest/gtest.h>

#include <string>

#include "control/data_buffer.h"
#include "session_test_support.h"

namespace {

VARIANT TextVariant(std::u16string_view text) {
    VARIANT v{};
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return v;
}

// ---- PutData's Buffer -------------------------------------------------------------

// A missing buffer and a number are PutDataChecksItsBufferBeforeConnecting's.
TEST(DataSourceTest, RefusedBuffers) {
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    VARIANT matrix{};
    matrix.vt = VT_ARRAY | VT_UI1;
    matrix.parray = SafeArrayCreate(VT_UI1, 2, bounds);
    EXPECT_EQ(DataSource(&matrix).hr(), CTL_E_ILLEGALFUNCTIONCALL);
    VariantClear(&matrix);

    VARIANT texts{};
    texts.vt = VT_ARRAY | VT_BSTR;
    texts.parray = SafeArrayCreateVector(VT_BSTR, 0, 1);
    EXPECT_EQ(DataSource(&texts).hr(), E_INVALIDARG);
    VariantClear(&texts);
}

// ---- GetData's Buffer ---------------------------------------------------------------

// An array that fits only part is ControlTransferTest.DataInTextsAndByteArrays'.
TEST(FillDataBufferTest, ANewArrayTakesAllAndOtherTypesNothing) {
    const std::string hundred(100, 'x');
    const std::span<const BYTE> bytes(reinterpret_cast<const BYTE*>(hundred.data()), 100);
    SAFEARRAY* none = nullptr;
    VARIANT reference{};
    reference.vt = VT_BYREF | VT_ARRAY | VT_UI1;
    reference.pparray = &none;
    EXPECT_EQ(FillDataBuffer(&reference, bytes), 100u);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->rgsabound[0].cElements, 100u);
    SafeArrayDestroy(none);

    VARIANT other{};
    other.vt = VT_I4;
    other.lVal = 5;
    EXPECT_EQ(FillDataBuffer(&other, bytes), 100u);
    EXPECT_EQ(other.lVal, 5);
}

// ---- Failure paths ---------------------------------------------------------------------

using TransferMethodsTest = SessionTest;

// Nothing listens on loopback port 1, so connecting to it is refused at once.
constexpr LONG kClosedPort = 1;

TEST_F(TransferMethodsTest, AFailedOneCallConnectReturnsItsFailureWithoutErrorOrEvent) {
    for (const bool throwError : {false, true}) {
        control_->put_ThrowError(throwError ? VARIANT_TRUE : VARIANT_FALSE);
        const std::string url = "ftp://u:p@127.0.0.1:" + std::to_string(kClosedPort) + "/f.bin";
        VARIANT local = TextVariant(u"/tmp/never-written.bin");
        VARIANT remote = TextVariant(Utf8ToUtf16(url));
        VARIANT error = I4(-1);
        const HRESULT hr = control_->GetFile(&local, &remote, nullptr, &error);
        EXPECT_EQ(hr, kAutomationErrorBase + fileErrorConnectionRefused);
        EXPECT_EQ(error.lVal, 0);
        EXPECT_EQ(sink_->Count(kOnError), 0);
        LONG last = 0;
        control_->get_LastError(&last);
        EXPECT_EQ(last & 0xFFFF, fileErrorConnectionRefused);
        VariantClear(&local);
        VariantClear(&remote);
    }
}

TEST_F(TransferMethodsTest, PutDataChecksItsBufferBeforeConnecting) {
    VARIANT remote = TextVariant(u"ftp://u:p@127.0.0.1:1/x");
    VARIANT number = I4(3);
    VARIANT error = I4(-1);
    EXPECT_EQ(control_->PutData(&remote, &number, nullptr, nullptr, &error), E_INVALIDARG);
    EXPECT_EQ(control_->PutData(&remote, nullptr, nullptr, nullptr, &error), E_INVALIDARG);
    EXPECT_EQ(error.lVal, 0);
    EXPECT_EQ(sink_->events.size(), 0u);
    VariantClear(&remote);
}

TEST_F(TransferMethodsTest, PostFileIsTheHttpEnginesOnly) {
    VARIANT text = TextVariant(u"x");
    VARIANT error = I4(-1);
    control_->put_ServerType(fileServerFTP);
    // PostFile belongs to the HTTP engine.
    EXPECT_EQ(control_->PostFile(&text, nullptr, nullptr, nullptr, &error), S_OK);
    EXPECT_EQ(error.lVal, fileErrorOperationNotSupported);
    control_->put_ThrowError(VARIANT_TRUE);
    EXPECT_EQ(control_->PostFile(&text, nullptr, nullptr, nullptr, &error),
              kAutomationErrorBase + fileErrorOperationNotSupported);
    VariantClear(&text);
}

}  // namespace
