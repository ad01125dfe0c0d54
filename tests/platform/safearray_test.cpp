#include <gtest/gtest.h>

#include <cstring>

#include "platform/automation.h"
#include "platform/dispatch.h"
#include "test_variant.h"

namespace {

TEST(SafeArrayShape, VectorBoundsAndByteData) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_UI1, 1, 5);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(SafeArrayGetDim(a), 1u);
    EXPECT_EQ(a->cbElements, 1u);
    EXPECT_TRUE(a->fFeatures & FADF_HAVEVARTYPE);
    LONG lower, upper;
    ASSERT_EQ(SafeArrayGetLBound(a, 1, &lower), S_OK);
    ASSERT_EQ(SafeArrayGetUBound(a, 1, &upper), S_OK);
    EXPECT_EQ(lower, 1);
    EXPECT_EQ(upper, 5);
    EXPECT_EQ(SafeArrayGetLBound(a, 2, &lower), DISP_E_BADINDEX);
    VARTYPE vt;
    ASSERT_EQ(SafeArrayGetVartype(a, &vt), S_OK);
    EXPECT_EQ(vt, VT_UI1);

    void* data;
    ASSERT_EQ(SafeArrayAccessData(a, &data), S_OK);
    EXPECT_EQ(static_cast<BYTE*>(data)[4], 0);  // zero-filled
    std::memcpy(data, "hello", 5);
    EXPECT_EQ(SafeArrayDestroy(a), DISP_E_ARRAYISLOCKED);  // still accessed
    ASSERT_EQ(SafeArrayUnaccessData(a), S_OK);
    EXPECT_EQ(SafeArrayUnaccessData(a), E_UNEXPECTED);

    BYTE b;
    LONG index = 5;
    ASSERT_EQ(SafeArrayGetElement(a, &index, &b), S_OK);
    EXPECT_EQ(b, 'o');
    index = 0;
    EXPECT_EQ(SafeArrayGetElement(a, &index, &b), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayDestroy(a), S_OK);
    // Unknown element types and no dimensions make no array.
    EXPECT_EQ(SafeArrayCreateVector(VT_NULL, 0, 1), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_I4, 0, nullptr), nullptr);
    EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

TEST(SafeArrayShape, MultiDimensionalLayoutFirstIndexFastest) {
    SAFEARRAYBOUND bounds[2] = {{3, 0}, {2, 10}};  // [0..2][10..11]
    SAFEARRAY* a = SafeArrayCreate(VT_I4, 2, bounds);
    ASSERT_NE(a, nullptr);
    // Bounds are stored rightmost dimension first.
    EXPECT_EQ(a->rgsabound[0].cElements, 2u);
    EXPECT_EQ(a->rgsabound[0].lLbound, 10);
    EXPECT_EQ(a->rgsabound[1].cElements, 3u);
    LONG lower, upper;
    ASSERT_EQ(SafeArrayGetLBound(a, 2, &lower), S_OK);
    ASSERT_EQ(SafeArrayGetUBound(a, 2, &upper), S_OK);
    EXPECT_EQ(lower, 10);
    EXPECT_EQ(upper, 11);
    for (LONG j = 10; j <= 11; ++j) {
        for (LONG i = 0; i <= 2; ++i) {
            LONG indices[2] = {i, j};
            LONG value = i * 100 + j;
            ASSERT_EQ(SafeArrayPutElement(a, indices, &value), S_OK);
        }
    }
    auto* data = static_cast<LONG*>(a->pvData);
    EXPECT_EQ(data[0], 10);
    EXPECT_EQ(data[1], 110);  // [1][10]
    EXPECT_EQ(data[3], 11);   // [0][11]
    LONG out[2] = {3, 10};
    LONG value;
    EXPECT_EQ(SafeArrayGetElement(a, out, &value), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayDestroy(a), S_OK);
}

TEST(SafeArrayLifetime, StringsAreCopiedInAndOutAndFreedDeeply) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_BSTR, 0, 3);
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(a->fFeatures & FADF_BSTR);
    BSTR first = BstrFromUtf8("first");
    LONG index = 0;
    ASSERT_EQ(SafeArrayPutElement(a, &index, first), S_OK);
    SysFreeString(first);  // the array keeps its own copy
    BSTR replacement = BstrFromUtf8("second");
    ASSERT_EQ(SafeArrayPutElement(a, &index, replacement), S_OK);  // old one freed
    SysFreeString(replacement);
    BSTR out = nullptr;
    ASSERT_EQ(SafeArrayGetElement(a, &index, &out), S_OK);
    EXPECT_EQ(Utf8FromBstr(out), "second");
    SysFreeString(out);

    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(a, &copy), S_OK);
    EXPECT_NE(static_cast<BSTR*>(copy->pvData)[0], static_cast<BSTR*>(a->pvData)[0]);
    EXPECT_EQ(SafeArrayDestroy(a), S_OK);
    EXPECT_EQ(Utf8FromBstr(static_cast<BSTR*>(copy->pvData)[0]), "second");
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);  // the sanitizer build checks nothing leaks
}

TEST(SafeArrayLifetime, VariantArraysHoldNestedArraysAndStrings) {
    SAFEARRAY* outer = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    ASSERT_NE(outer, nullptr);
    TestVariant text, nested;
    SetText(text.get(), "inside");
    nested.v.vt = VT_ARRAY | VT_UI1;
    nested.v.parray = SafeArrayCreateVector(VT_UI1, 0, 16);
    LONG index = 0;
    ASSERT_EQ(SafeArrayPutElement(outer, &index, text.get()), S_OK);
    index = 1;
    ASSERT_EQ(SafeArrayPutElement(outer, &index, nested.get()), S_OK);

    TestVariant holder;
    holder.v.vt = VT_ARRAY | VT_VARIANT;
    holder.v.parray = outer;
    TestVariant copy;
    ASSERT_EQ(VariantCopy(copy.get(), holder.get()), S_OK);
    TestVariant element;
    ASSERT_EQ(SafeArrayGetElement(copy.v.parray, &index, element.get()), S_OK);
    EXPECT_EQ(element.v.vt, VT_ARRAY | VT_UI1);
    EXPECT_NE(element.v.parray, nested.v.parray);
    // All of it is released by the VARIANT destructors.
}

}  // namespace
