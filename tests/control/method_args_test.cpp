// The argument conventions shared by the control's methods.
#include "control/method_args.h"
#include "session_test_support.h"

namespace {

VARIANT ByRef(VARTYPE type, void* target) {
    VARIANT v{};
    v.vt = static_cast<VARTYPE>(VT_BYREF | type);
    v.byref = target;
    return v;
}

// A missing or empty output, an array, a text by value or by reference: the
// directory methods' (FileMethods.RefusedOutputsEndTheMethodBeforeAnyEffect,
// DirectoryMethods.FileInformationMethodsFillTheirOutputs).
TEST(TextResults, AReferenceToAnotherTypeIsRefused) {
    LONG number = 0;
    VARIANT wrongReference = ByRef(VT_I4, &number);
    EXPECT_EQ(StoreTextResult(&wrongReference, u"x"), DISP_E_TYPEMISMATCH);
}

TEST(NumberResults, KeepTheTypeOfAReference) {
    SHORT small = 0;
    VARIANT shortRef = ByRef(VT_I2, &small);
    EXPECT_EQ(StoreLongResult(&shortRef, 1234), S_OK);
    EXPECT_EQ(small, 1234);
    EXPECT_EQ(StoreLongResult(&shortRef, 70000), MakeHResult(0x800A0006));
    double real = 0;
    VARIANT realRef = ByRef(VT_R8, &real);
    EXPECT_EQ(StoreLongResult(&realRef, -5), S_OK);
    EXPECT_EQ(real, -5.0);
    BSTR text = nullptr;
    VARIANT textRef = ByRef(VT_BSTR, &text);
    EXPECT_EQ(StoreLongResult(&textRef, 2048), S_OK);
    EXPECT_EQ(Utf8FromBstr(text), "2048");
    SysFreeString(text);

    VARIANT byValue{};
    byValue.vt = VT_BSTR;
    byValue.bstrVal = BstrFromUtf8("x");  // freed by the store
    EXPECT_EQ(StoreLongResult(&byValue, 9), S_OK);
    EXPECT_EQ(byValue.vt, VT_I4);
    EXPECT_EQ(byValue.lVal, 9);
    EXPECT_EQ(StoreLongResult(nullptr, 9), S_OK);  // missing: left alone
}

// A 64-bit size into every kind of output: whole where the type holds it,
// DISP_E_OVERFLOW where it does not.
TEST(NumberResults, SixtyFourBitSizesFitOrOverflow) {
    constexpr LONGLONG kFive = 5368709120;
    LONGLONG wide = 0;
    ULONGLONG wideUnsigned = 0;
    double real = 0;
    LONG narrow = 0;
    VARIANT wideRef = ByRef(VT_I8, &wide), unsignedRef = ByRef(VT_UI8, &wideUnsigned),
            realRef = ByRef(VT_R8, &real), narrowRef = ByRef(VT_I4, &narrow);
    EXPECT_EQ(StoreInt64Result(&wideRef, kFive), S_OK);
    EXPECT_EQ(wide, kFive);
    EXPECT_EQ(StoreInt64Result(&unsignedRef, kFive), S_OK);
    EXPECT_EQ(wideUnsigned, 5368709120u);
    EXPECT_EQ(StoreInt64Result(&unsignedRef, -1), DISP_E_OVERFLOW);
    EXPECT_EQ(StoreInt64Result(&realRef, kFive), S_OK);
    EXPECT_EQ(real, 5368709120.0);
    EXPECT_EQ(StoreInt64Result(&narrowRef, 2147483647), S_OK);
    EXPECT_EQ(narrow, 2147483647);
    EXPECT_EQ(StoreInt64Result(&narrowRef, 2147483648), DISP_E_OVERFLOW);
    EXPECT_EQ(narrow, 2147483647) << "left as it was";
    BSTR text = nullptr;
    VARIANT textRef = ByRef(VT_BSTR, &text);
    EXPECT_EQ(StoreInt64Result(&textRef, INT64_MAX), S_OK);
    EXPECT_EQ(Utf8FromBstr(text), "9223372036854775807");
    SysFreeString(text);
    VARIANT byValue{};
    EXPECT_EQ(StoreInt64Result(&byValue, kFive), S_OK);
    EXPECT_EQ(byValue.vt, VT_I8);
    EXPECT_EQ(byValue.llVal, kFive);
}

TEST(OptionalArguments, SixtyFourBitOffsetsFromAnyNumber) {
    VARIANT i4 = I4(-1), i8, r8, text;
    VariantInit(&i8);
    i8.vt = VT_I8;
    i8.llVal = 5368709000;
    VariantInit(&r8);
    r8.vt = VT_R8;
    r8.dblVal = 5368709000.0;
    TextVariant decimal("5368709000");
    EXPECT_EQ(ReadInt64Argument(&i4).value, -1);
    EXPECT_EQ(ReadInt64Argument(&i8).value, 5368709000);
    EXPECT_EQ(ReadInt64Argument(&r8).value, 5368709000);
    EXPECT_EQ(ReadInt64Argument(decimal).value, 5368709000);
    EXPECT_FALSE(ReadInt64Argument(nullptr).value);
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = BstrFromUtf8("five");
    EXPECT_TRUE(FAILED(ReadInt64Argument(&text).hr));
    VariantClear(&text);
}

}  // namespace
