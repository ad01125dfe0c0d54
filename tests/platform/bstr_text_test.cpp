#include <gtest/gtest.h>

#include <cstring>

#include "platform/automation.h"
#include "platform/lasterror.h"
#include "platform/text.h"
#include "test_variant.h"

namespace {

TEST(Bstr, LengthPrefixAndTerminator) {
    BSTR s = SysAllocString(u"abc");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(SysStringByteLen(s), 6u);
    DWORD prefix;
    std::memcpy(&prefix, reinterpret_cast<char*>(s) - 4, 4);
    EXPECT_EQ(prefix, 6u);  // byte length, in front of the text
    EXPECT_EQ(s[3], u'\0');
    SysFreeString(s);
}

TEST(Bstr, NullIsTheEmptyString) {
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    EXPECT_EQ(Utf8FromBstr(nullptr), "");
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    SysFreeString(nullptr);
}

TEST(Bstr, EmbeddedNulsAndOddByteLengthsAreKept) {
    const char16_t withNul[] = {u'a', 0, u'b'};
    BSTR s = SysAllocStringLen(withNul, 3);
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(BstrView(s), std::u16string_view(withNul, 3));
    SysFreeString(s);

    BSTR bytes = SysAllocStringByteLen("xyz", 3);
    EXPECT_EQ(SysStringByteLen(bytes), 3u);
    EXPECT_EQ(SysStringLen(bytes), 1u);
    EXPECT_EQ(std::memcmp(bytes, "xyz\0\0", 5), 0);  // terminated after the odd byte
    SysFreeString(bytes);

    BSTR blank = SysAllocStringLen(nullptr, 4);
    EXPECT_EQ(SysStringLen(blank), 4u);
    SysFreeString(blank);
}

TEST(Bstr, VariantCopyDuplicatesTheString) {
    TestVariant a, b;
    SetText(a.get(), "text");
    ASSERT_EQ(VariantCopy(b.get(), a.get()), S_OK);
    EXPECT_NE(b.v.bstrVal, a.v.bstrVal);
    EXPECT_EQ(b.Text(), "text");
    ASSERT_EQ(VariantClear(a.get()), S_OK);
    EXPECT_EQ(a.v.vt, VT_EMPTY);
    EXPECT_EQ(b.Text(), "text");
}

TEST(Bstr, CopyOfAReferenceStaysAReference) {
    BSTR text = BstrFromUtf8("ref");
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_BYREF | VT_BSTR;
    ref.pbstrVal = &text;
    TestVariant shallow;
    ASSERT_EQ(VariantCopy(shallow.get(), &ref), S_OK);
    EXPECT_EQ(shallow.v.vt, VT_BYREF | VT_BSTR);
    EXPECT_EQ(shallow.v.pbstrVal, &text);
    SysFreeString(text);
}

TEST(Utf, RoundTripsAcrossPlanes) {
    std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a, e-acute, euro, emoji
    std::u16string wide = Utf8ToUtf16(text);
    EXPECT_EQ(wide, u"a\u00E9\u20AC\U0001F600");
    EXPECT_EQ(wide.size(), 5u);  // the emoji is a surrogate pair
    EXPECT_EQ(Utf16ToUtf8(wide), text);
    BSTR b = BstrFromUtf8(text);
    EXPECT_EQ(Utf8FromBstr(b), text);
    SysFreeString(b);
}

TEST(Utf, InvalidSequencesBecomeReplacementCharacters) {
    struct Case {
        std::string in;
        std::u16string out;
    } cases[] = {
        {"\xFF", u"\uFFFD"},
        {"a\x80z", u"a\uFFFDz"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong '/'
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
        {"\xE2\x82", u"\uFFFD\uFFFD"},                      // cut short at the end
    };
    for (const auto& c : cases)
        EXPECT_EQ(Utf8ToUtf16(c.in), c.out);
    std::u16string lone = {u'x', char16_t(0xD800), u'y', char16_t(0xDC00)};
    EXPECT_EQ(Utf16ToUtf8(lone), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
}

}  // namespace
