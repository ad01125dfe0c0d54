#include <gtest/gtest.h>

#include <cmath>

#include "platform/automation.h"
#include "test_variant.h"

namespace {

HRESULT Change(VARIANT* source, VARTYPE vt, TestVariant& out) {
    return VariantChangeType(out.get(), source, 0, vt);
}

HRESULT FromText(const char* text, VARTYPE vt, TestVariant& out) {
    TestVariant source;
    SetText(source.get(), text);
    return Change(source.get(), vt, out);
}

VARIANT Real(double value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = value;
    return v;
}

VARIANT Long(LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

TEST(VariantNumbers, RealToIntegerRoundsHalvesToEven) {
    struct Case {
        double in;
        LONG out;
    } cases[] = {{2.5, 2}, {3.5, 4}, {-2.5, -2}, {2.4999, 2}, {-0.6, -1}, {1e9, 1000000000}};
    for (auto c : cases) {
        VARIANT source = Real(c.in);
        TestVariant out;
        ASSERT_EQ(Change(&source, VT_I4, out), S_OK) << c.in;
        EXPECT_EQ(out.v.vt, VT_I4);
        EXPECT_EQ(out.v.lVal, c.out) << c.in;
    }
}

TEST(VariantNumbers, OverflowAtEachTargetsLimits) {
    struct Case {
        LONG in;
        VARTYPE vt;
        HRESULT expected;
    } cases[] = {
        {32767, VT_I2, S_OK},          {32768, VT_I2, DISP_E_OVERFLOW},
        {-32768, VT_I2, S_OK},         {-32769, VT_I2, DISP_E_OVERFLOW},
        {255, VT_UI1, S_OK},           {256, VT_UI1, DISP_E_OVERFLOW},
        {-1, VT_UI1, DISP_E_OVERFLOW}, {-1, VT_UI4, DISP_E_OVERFLOW},
    };
    for (auto c : cases) {
        VARIANT source = Long(c.in);
        TestVariant out;
        EXPECT_EQ(Change(&source, c.vt, out), c.expected) << c.in << " to " << c.vt;
    }
    VARIANT huge = Real(3e9);
    TestVariant out;
    EXPECT_EQ(Change(&huge, VT_I4, out), DISP_E_OVERFLOW);
    VARIANT tooBigForFloat = Real(1e39);
    EXPECT_EQ(Change(&tooBigForFloat, VT_R4, out), DISP_E_OVERFLOW);
    VARIANT roundsOver = Real(32767.5);  // rounds to 32768
    EXPECT_EQ(Change(&roundsOver, VT_I2, out), DISP_E_OVERFLOW);
}

TEST(VariantNumbers, FailedConversionLeavesDestinationAlone) {
    TestVariant out;
    SetText(out.get(), "keep");
    VARIANT source = Long(100000);
    EXPECT_EQ(Change(&source, VT_I2, out), DISP_E_OVERFLOW);
    ASSERT_EQ(out.v.vt, VT_BSTR);
    EXPECT_EQ(out.Text(), "keep");
}

TEST(VariantNumbers, ConvertsInPlace) {
    TestVariant v;
    SetText(v.get(), " 42 ");
    ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_I4), S_OK);
    EXPECT_EQ(v.v.vt, VT_I4);
    EXPECT_EQ(v.v.lVal, 42);
    ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_BSTR), S_OK);
    EXPECT_EQ(v.Text(), "42");
}

TEST(VariantText, NumbersParseWithBlanksSignAndDecimals) {
    struct Case {
        const char* text;
        double value;
    } cases[] = {{"  12  ", 12},     {"-7", -7},  {"+3", 3},    {"1.5", 1.5},
                 {"\t-0.25", -0.25}, {".5", 0.5}, {"2e3", 2000}};
    for (auto c : cases) {
        TestVariant out;
        ASSERT_EQ(FromText(c.text, VT_R8, out), S_OK) << c.text;
        EXPECT_DOUBLE_EQ(out.v.dblVal, c.value) << c.text;
    }
    TestVariant out;
    ASSERT_EQ(FromText("2.5", VT_I4, out), S_OK);
    EXPECT_EQ(out.v.lVal, 2);
}

TEST(VariantText, UnparsableTextIsATypeMismatch) {
    for (const char* text : {"", "  ", "abc", "12abc", "1 2", "--1", "inf", "nan", "0x10", "."}) {
        TestVariant out;
        EXPECT_EQ(FromText(text, VT_I4, out), DISP_E_TYPEMISMATCH) << '"' << text << '"';
    }
}

TEST(VariantText, NumbersBeyondTheTargetOverflow) {
    TestVariant out;
    EXPECT_EQ(FromText("70000", VT_I2, out), DISP_E_OVERFLOW);
    EXPECT_EQ(FromText("99999999999999999999999", VT_I4, out), DISP_E_OVERFLOW);
    EXPECT_EQ(FromText("2147483647", VT_I4, out), S_OK);
    EXPECT_EQ(out.v.lVal, 2147483647);
    EXPECT_EQ(FromText("2147483648", VT_I4, out), DISP_E_OVERFLOW);
}

TEST(VariantText, NumbersFormatAsDecimalText) {
    struct Case {
        VARIANT in;
        const char* text;
    } cases[] = {{Long(-12), "-12"},    {Real(1.5), "1.5"}, {Real(0.1), "0.1"},
                 {Real(1e20), "1E+20"}, {Real(-0.0), "0"},  {Real(1.0 / 3), "0.333333333333333"}};
    for (auto& c : cases) {
        TestVariant out;
        ASSERT_EQ(Change(&c.in, VT_BSTR, out), S_OK);
        EXPECT_EQ(out.Text(), c.text);
    }
    VARIANT single;
    VariantInit(&single);
    single.vt = VT_R4;
    single.fltVal = 0.1f;
    TestVariant out;
    ASSERT_EQ(Change(&single, VT_BSTR, out), S_OK);
    EXPECT_EQ(out.Text(), "0.1");
}

TEST(VariantBool, TextAcceptsWordsInAnyCaseAndNumbers) {
    struct Case {
        const char* text;
        VARIANT_BOOL value;
    } cases[] = {{"True", VARIANT_TRUE}, {"FALSE", VARIANT_FALSE}, {" tRuE ", VARIANT_TRUE},
                 {"0", VARIANT_FALSE},   {"-1", VARIANT_TRUE},     {"2.5", VARIANT_TRUE}};
    for (auto c : cases) {
        TestVariant out;
        ASSERT_EQ(FromText(c.text, VT_BOOL, out), S_OK) << c.text;
        EXPECT_EQ(out.v.boolVal, c.value) << c.text;
    }
    TestVariant out;
    EXPECT_EQ(FromText("yes", VT_BOOL, out), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(FromText("true", VT_I4, out), DISP_E_TYPEMISMATCH);  // words are for booleans only
}

TEST(VariantBool, BooleansBecomeWordsAndMinusOne) {
    VARIANT b;
    VariantInit(&b);
    b.vt = VT_BOOL;
    b.boolVal = VARIANT_TRUE;
    TestVariant text, number, byte;
    ASSERT_EQ(Change(&b, VT_BSTR, text), S_OK);
    EXPECT_EQ(text.Text(), "True");
    ASSERT_EQ(Change(&b, VT_I2, number), S_OK);
    EXPECT_EQ(number.v.iVal, -1);
    ASSERT_EQ(Change(&b, VT_UI1, byte), S_OK);
    EXPECT_EQ(byte.v.bVal, 255);
    b.boolVal = VARIANT_FALSE;
    ASSERT_EQ(Change(&b, VT_BSTR, text), S_OK);
    EXPECT_EQ(text.Text(), "False");

    VARIANT seven = Long(7);
    TestVariant flag;
    ASSERT_EQ(Change(&seven, VT_BOOL, flag), S_OK);
    EXPECT_EQ(flag.v.boolVal, VARIANT_TRUE);  // any non-zero value is the canonical true
}

TEST(VariantEmpty, BecomesZeroEmptyTextOrFalse) {
    VARIANT empty;
    VariantInit(&empty);
    TestVariant i4, text, flag, date;
    ASSERT_EQ(Change(&empty, VT_I4, i4), S_OK);
    EXPECT_EQ(i4.v.lVal, 0);
    ASSERT_EQ(Change(&empty, VT_BSTR, text), S_OK);
    EXPECT_EQ(text.v.vt, VT_BSTR);
    EXPECT_EQ(SysStringLen(text.v.bstrVal), 0u);
    ASSERT_EQ(Change(&empty, VT_BOOL, flag), S_OK);
    EXPECT_EQ(flag.v.boolVal, VARIANT_FALSE);
    ASSERT_EQ(Change(&empty, VT_DATE, date), S_OK);
    EXPECT_EQ(date.v.date, 0.0);
}

TEST(VariantMismatch, NullErrorAndArraysDoNotConvert) {
    TestVariant out;
    VARIANT null;
    VariantInit(&null);
    null.vt = VT_NULL;
    EXPECT_EQ(Change(&null, VT_I4, out), DISP_E_TYPEMISMATCH);
    VARIANT missing;
    VariantInit(&missing);
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    EXPECT_EQ(Change(&missing, VT_BSTR, out), DISP_E_TYPEMISMATCH);

    TestVariant array;
    array.v.vt = VT_ARRAY | VT_UI1;
    array.v.parray = SafeArrayCreateVector(VT_UI1, 0, 4);
    EXPECT_EQ(Change(array.get(), VT_BSTR, out), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Change(array.get(), VT_I4, out), DISP_E_TYPEMISMATCH);
    // The same array type is a copy, not a conversion.
    ASSERT_EQ(Change(array.get(), VT_ARRAY | VT_UI1, out), S_OK);
    EXPECT_NE(out.v.parray, array.v.parray);
}

TEST(VariantByReference, SourcesAreFollowed) {
    SHORT shortValue = 300;
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_BYREF | VT_I2;
    ref.piVal = &shortValue;
    TestVariant out;
    ASSERT_EQ(Change(&ref, VT_BSTR, out), S_OK);
    EXPECT_EQ(out.Text(), "300");

    BSTR text = BstrFromUtf8("17");
    VARIANT textRef;
    VariantInit(&textRef);
    textRef.vt = VT_BYREF | VT_BSTR;
    textRef.pbstrVal = &text;
    ASSERT_EQ(Change(&textRef, VT_I4, out), S_OK);
    EXPECT_EQ(out.v.lVal, 17);

    // A variant by reference: the inner variant is converted, and stays intact.
    TestVariant inner;
    SetText(inner.get(), "2.5");
    VARIANT variantRef;
    VariantInit(&variantRef);
    variantRef.vt = VT_BYREF | VT_VARIANT;
    variantRef.pvarVal = inner.get();
    ASSERT_EQ(Change(&variantRef, VT_R8, out), S_OK);
    EXPECT_EQ(out.v.dblVal, 2.5);
    EXPECT_EQ(inner.Text(), "2.5");

    // Converting a by-reference variant in place leaves its target alone.
    ASSERT_EQ(VariantChangeType(&textRef, &textRef, 0, VT_I4), S_OK);
    EXPECT_EQ(textRef.lVal, 17);
    EXPECT_EQ(Utf8FromBstr(text), "17");
    SysFreeString(text);
}

TEST(VariantDates, TextAndNumbersRoundTrip) {
    TestVariant date;
    ASSERT_EQ(FromText("2024-02-29 13:45:30", VT_DATE, date), S_OK);
    TestVariant text;
    ASSERT_EQ(Change(date.get(), VT_BSTR, text), S_OK);
    EXPECT_EQ(text.Text(), "2024-02-29 13:45:30");

    ASSERT_EQ(FromText("2000-01-01", VT_DATE, date), S_OK);
    EXPECT_EQ(date.v.date, 36526.0);
    ASSERT_EQ(Change(date.get(), VT_BSTR, text), S_OK);
    EXPECT_EQ(text.Text(), "2000-01-01");  // midnight: the date alone

    ASSERT_EQ(FromText("1899-12-30 06:00:00", VT_DATE, date), S_OK);
    EXPECT_EQ(date.v.date, 0.25);
    ASSERT_EQ(Change(date.get(), VT_BSTR, text), S_OK);
    EXPECT_EQ(text.Text(), "06:00:00");  // day zero: the time alone

    ASSERT_EQ(FromText("12:00", VT_DATE, date), S_OK);
    EXPECT_EQ(date.v.date, 0.5);
    ASSERT_EQ(FromText("2001-02-03T04:05:06", VT_DATE, date), S_OK);
    ASSERT_EQ(Change(date.get(), VT_BSTR, text), S_OK);
    EXPECT_EQ(text.Text(), "2001-02-03 04:05:06");

    TestVariant number;
    ASSERT_EQ(Change(date.get(), VT_I4, number), S_OK);
    EXPECT_EQ(number.v.lVal, 36925);
}

TEST(VariantDates, BadTextAndOutOfRangeNumbersFail) {
    TestVariant out;
    for (const char* text : {"2023-02-29", "2024-13-01", "2024-01-01 24:00:00", "0099-01-01",
                             "yesterday", "2024/01/01", "2024-01-01 10:00:00 x"})
        EXPECT_EQ(FromText(text, VT_DATE, out), DISP_E_TYPEMISMATCH) << text;
    VARIANT far = Real(3000000.0);
    EXPECT_EQ(Change(&far, VT_DATE, out), DISP_E_OVERFLOW);
    VARIANT early = Real(-700000.0);
    EXPECT_EQ(Change(&early, VT_DATE, out), DISP_E_OVERFLOW);
}

}  // namespace
