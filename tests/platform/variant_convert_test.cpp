#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/automation.h"
#include "test_variant.h"

namespace {

VARIANT OfType(VARTYPE vt) {
    VARIANT v{};
    v.vt = vt;
    return v;
}

VARIANT Real(double value) {
    VARIANT v = OfType(VT_R8);
    v.dblVal = value;
    return v;
}

VARIANT Long(LONG value) {
    VARIANT v = OfType(VT_I4);
    v.lVal = value;
    return v;
}

VARIANT Text(const char* text) {
    VARIANT v = OfType(VT_EMPTY);
    SetText(&v, text);
    return v;
}

VARIANT Bool(bool value) {
    VARIANT v = OfType(VT_BOOL);
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

// A date read from text.
VARIANT Date(const char* text) {
    VARIANT source = Text(text), date;
    VariantInit(&date);
    EXPECT_EQ(VariantChangeType(&date, &source, 0, VT_DATE), S_OK) << text;
    VariantClear(&source);
    return date;
}

// Converts source (and then frees it) to vt; the result shown as text, or
// "overflow", "mismatch" or the failure's code.
std::string As(VARIANT source, VARTYPE vt) {
    TestVariant out, text;
    const HRESULT hr = VariantChangeType(out.get(), &source, 0, vt);
    VariantClear(&source);
    if (hr == DISP_E_OVERFLOW) return "overflow";
    if (hr == DISP_E_TYPEMISMATCH) return "mismatch";
    if (hr != S_OK) return "error " + std::to_string(hr);
    EXPECT_EQ(out.v.vt, vt);
    if (VariantChangeType(text.get(), out.get(), 0, VT_BSTR) != S_OK) return "not shown";
    return text.Text();
}

struct Conversion {
    VARIANT in;
    VARTYPE vt;
    const char* out;
};

template <std::size_t N>
void ExpectConversions(Conversion (&cases)[N]) {
    for (std::size_t i = 0; i < N; ++i)
        EXPECT_EQ(As(cases[i].in, cases[i].vt), cases[i].out) << "row " << i;
}

TEST(VariantNumbers, RealsRoundHalvesToEvenAndOverflowAtEachTargetsLimits) {
    Conversion cases[] = {
        {Real(2.5), VT_I4, "2"},
        {Real(3.5), VT_I4, "4"},
        {Real(-2.5), VT_I4, "-2"},
        {Real(-0.6), VT_I4, "-1"},
        {Long(32767), VT_I2, "32767"},
        {Long(32768), VT_I2, "overflow"},
        {Long(-32768), VT_I2, "-32768"},
        {Long(-32769), VT_I2, "overflow"},
        {Long(255), VT_UI1, "255"},
        {Long(256), VT_UI1, "overflow"},
        {Long(-1), VT_UI1, "overflow"},
        {Long(-1), VT_UI4, "overflow"},
        {Real(3e9), VT_I4, "overflow"},
        {Real(1e39), VT_R4, "overflow"},
        {Real(32767.5), VT_I2, "overflow"},  // rounds to 32768
    };
    ExpectConversions(cases);
}

// A failed conversion leaves the destination alone; one in place replaces it.
TEST(VariantNumbers, FailuresLeaveTheDestinationAloneAndInPlaceWorks) {
    TestVariant out;
    SetText(out.get(), "keep");
    VARIANT source = Long(100000);
    EXPECT_EQ(VariantChangeType(out.get(), &source, 0, VT_I2), DISP_E_OVERFLOW);
    ASSERT_EQ(out.v.vt, VT_BSTR);
    EXPECT_EQ(out.Text(), "keep");

    TestVariant v;
    SetText(v.get(), " 42 ");
    ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_I4), S_OK);
    EXPECT_EQ(v.v.vt, VT_I4);
    EXPECT_EQ(v.v.lVal, 42);
    ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_BSTR), S_OK);
    EXPECT_EQ(v.Text(), "42");
}

TEST(VariantText, NumbersParseWithBlanksSignAndDecimalsAndFormatAsDecimalText) {
    Conversion cases[] = {
        {Text("  12  "), VT_R8, "12"},
        {Text("+3"), VT_R8, "3"},
        {Text("\t-0.25"), VT_R8, "-0.25"},
        {Text(".5"), VT_R8, "0.5"},
        {Text("2e3"), VT_R8, "2000"},
        {Text("2.5"), VT_I4, "2"},
        {Text("2147483647"), VT_I4, "2147483647"},
        {Text("2147483648"), VT_I4, "overflow"},
        {Text("70000"), VT_I2, "overflow"},
        {Text("99999999999999999999999"), VT_I4, "overflow"},
        {Long(-12), VT_BSTR, "-12"},
        {Real(0.1), VT_BSTR, "0.1"},
        {Real(1e20), VT_BSTR, "1E+20"},
        {Real(-0.0), VT_BSTR, "0"},
        {Real(1.0 / 3), VT_BSTR, "0.333333333333333"},
    };
    ExpectConversions(cases);
    VARIANT single = OfType(VT_R4);
    single.fltVal = 0.1f;
    EXPECT_EQ(As(single, VT_BSTR), "0.1");
}

TEST(VariantText, UnparsableTextIsATypeMismatch) {
    for (const char* text : {"", "  ", "abc", "12abc", "1 2", "--1", "inf", "nan", "0x10", "."})
        EXPECT_EQ(As(Text(text), VT_I4), "mismatch") << '"' << text << '"';
}

TEST(VariantBool, WordsInAnyCaseNumbersBothWaysAndEmptyOrNull) {
    Conversion cases[] = {
        {Text("FALSE"), VT_BOOL, "False"},
        {Text(" tRuE "), VT_BOOL, "True"},
        {Text("0"), VT_BOOL, "False"},
        {Text("2.5"), VT_BOOL, "True"},
        {Text("yes"), VT_BOOL, "mismatch"},
        {Text("true"), VT_I4, "mismatch"},  // words are for booleans only
        {Bool(true), VT_I2, "-1"},
        {Bool(true), VT_UI1, "255"},
        {Bool(false), VT_BSTR, "False"},
        {Bool(true), VT_BSTR, "True"},
        // Empty becomes zero, "" or false; null and errors do not convert.
        {OfType(VT_EMPTY), VT_I4, "0"},
        {OfType(VT_EMPTY), VT_BSTR, ""},
        {OfType(VT_EMPTY), VT_BOOL, "False"},
        {OfType(VT_EMPTY), VT_DATE, "00:00:00"},
        {OfType(VT_NULL), VT_I4, "mismatch"},
        {OfType(VT_ERROR), VT_BSTR, "mismatch"},
    };
    ExpectConversions(cases);
    // Any non-zero value is the canonical true.
    VARIANT seven = Long(7);
    TestVariant flag;
    ASSERT_EQ(VariantChangeType(flag.get(), &seven, 0, VT_BOOL), S_OK);
    EXPECT_EQ(flag.v.boolVal, VARIANT_TRUE);
}

TEST(VariantMismatch, ArraysDoNotConvertButCopy) {
    TestVariant array, out;
    array.v.vt = VT_ARRAY | VT_UI1;
    array.v.parray = SafeArrayCreateVector(VT_UI1, 0, 4);
    EXPECT_EQ(VariantChangeType(out.get(), array.get(), 0, VT_BSTR), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantChangeType(out.get(), array.get(), 0, VT_I4), DISP_E_TYPEMISMATCH);
    // The same array type is a copy, not a conversion.
    ASSERT_EQ(VariantChangeType(out.get(), array.get(), 0, VT_ARRAY | VT_UI1), S_OK);
    EXPECT_NE(out.v.parray, array.v.parray);
}

TEST(VariantByReference, SourcesAreFollowed) {
    SHORT shortValue = 300;
    VARIANT ref = OfType(VT_BYREF | VT_I2);
    ref.piVal = &shortValue;
    EXPECT_EQ(As(ref, VT_BSTR), "300");

    BSTR text = BstrFromUtf8("17");
    VARIANT textRef = OfType(VT_BYREF | VT_BSTR);
    textRef.pbstrVal = &text;
    EXPECT_EQ(As(textRef, VT_I4), "17");

    // A variant by reference: the inner variant is converted, and stays intact.
    TestVariant inner;
    SetText(inner.get(), "2.5");
    VARIANT variantRef = OfType(VT_BYREF | VT_VARIANT);
    variantRef.pvarVal = inner.get();
    EXPECT_EQ(As(variantRef, VT_R8), "2.5");
    EXPECT_EQ(inner.Text(), "2.5");

    // Converting a by-reference variant in place leaves its target alone.
    ASSERT_EQ(VariantChangeType(&textRef, &textRef, 0, VT_I4), S_OK);
    EXPECT_EQ(textRef.lVal, 17);
    EXPECT_EQ(Utf8FromBstr(text), "17");
    SysFreeString(text);
}

TEST(VariantDates, TextAndNumbersRoundTripAndBadOnesFail) {
    Conversion cases[] = {
        {Text("2024-02-29 13:45:30"), VT_DATE, "2024-02-29 13:45:30"},
        {Text("2000-01-01"), VT_DATE, "2000-01-01"},         // midnight: the date alone
        {Text("1899-12-30 06:00:00"), VT_DATE, "06:00:00"},  // day zero: the time alone
        {Text("2001-02-03T04:05:06"), VT_DATE, "2001-02-03 04:05:06"},
        {Date("2000-01-01"), VT_R8, "36526"},
        {Date("1899-12-30 06:00:00"), VT_R8, "0.25"},
        {Date("12:00"), VT_R8, "0.5"},
        {Date("2001-02-03T04:05:06"), VT_I4, "36925"},
        {Real(3000000.0), VT_DATE, "overflow"},
        {Real(-700000.0), VT_DATE, "overflow"},
    };
    ExpectConversions(cases);
    for (const char* text : {"2023-02-29", "2024-13-01", "2024-01-01 24:00:00", "0099-01-01",
                             "yesterday", "2024/01/01", "2024-01-01 10:00:00 x"})
        EXPECT_EQ(As(Text(text), VT_DATE), "mismatch") << text;
}

}  // namespace
