#include <gtest/gtest.h>

#include <cstring>

#include "platform/automation.h"
#include "platform/lasterror.h"
#include "platform/secret_string.h"
#include "platform/text.h"
#include "test_variant.h"

namespace {

// The byte length in front of the text, the terminator after it (after an odd
// byte too), embedded NULs kept, and null as the empty string.
TEST(Bstr, LengthPrefixTerminatorEmbeddedNulsAndNull) {
    BSTR s = SysAllocString(u"abc");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(SysStringByteLen(s), 6u);
    DWORD prefix;
    std::memcpy(&prefix, reinterpret_cast<char*>(s) - 4, 4);
    EXPECT_EQ(prefix, 6u);  // byte length, in front of the text
    EXPECT_EQ(s[3], u'\0');
    SysFreeString(s);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    EXPECT_EQ(Utf8FromBstr(nullptr), "");
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    SysFreeString(nullptr);

    const char16_t withNul[] = {u'a', 0, u'b'};
    s = SysAllocStringLen(withNul, 3);
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

// A copy duplicates the string, but a copy of a reference stays a reference.
TEST(Bstr, VariantCopyDuplicatesTheStringNotAReference) {
    TestVariant a, b;
    SetText(a.get(), "text");
    ASSERT_EQ(VariantCopy(b.get(), a.get()), S_OK);
    EXPECT_NE(b.v.bstrVal, a.v.bstrVal);
    EXPECT_EQ(b.Text(), "text");
    ASSERT_EQ(VariantClear(a.get()), S_OK);
    EXPECT_EQ(a.v.vt, VT_EMPTY);
    EXPECT_EQ(b.Text(), "text");

    BSTR text = BstrFromUtf8("ref");
    VARIANT ref{};
    ref.vt = VT_BYREF | VT_BSTR;
    ref.pbstrVal = &text;
    TestVariant shallow;
    ASSERT_EQ(VariantCopy(shallow.get(), &ref), S_OK);
    EXPECT_EQ(shallow.v.vt, VT_BYREF | VT_BSTR);
    EXPECT_EQ(shallow.v.pbstrVal, &text);
    SysFreeString(text);
}

TEST(Utf, RoundTripsAcrossPlanesAndInvalidSequencesAreReplaced) {
    std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a, e-acute, euro, emoji
    std::u16string wide = Utf8ToUtf16(text);
    EXPECT_EQ(wide, u"a\u00E9\u20AC\U0001F600");
    EXPECT_EQ(wide.size(), 5u);  // the emoji is a surrogate pair
    EXPECT_EQ(Utf16ToUtf8(wide), text);
    BSTR b = BstrFromUtf8(text);
    EXPECT_EQ(Utf8FromBstr(b), text);
    SysFreeString(b);

    // Invalid sequences become replacement characters.
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

// The password's way in: the control's UTF-16 secret converts straight into the
// engines' buffer and agrees with the ordinary conversion (surrogate pairs and
// unpaired surrogates included); the buffer keeps its NUL after every replace,
// and a shorter replacement leaves nothing of the longer text behind it.
TEST(SecretString, ConvertsStraightInAndWipesWhatItReplaces) {
    const std::u16string rows[] = {u"", u"secret", u"p\u00e4ss\u20ac", u"\U0001F511key",
                                   std::u16string(1, char16_t(0xD800)) + u"x",
                                   std::u16string(99, u'\uFFFF')};
    for (const std::u16string& row : rows) {
        SecretText text;
        text.assign(row);
        SecretBytes secret;
        text.ToUtf8(&secret);
        EXPECT_EQ(secret.view(), Utf16ToUtf8(row));
        EXPECT_EQ(secret.c_str()[secret.size()], '\0');
        const std::size_t before = secret.size();
        secret = "short";
        EXPECT_EQ(std::string(secret.c_str()), "short");
        for (std::size_t i = secret.size(); i < before; ++i)
            ASSERT_EQ(secret.c_str()[i], '\0') << "byte " << i << " of " << before;
        SecretText moved(std::move(text));
        EXPECT_EQ(moved.view(), row);
        secret.Wipe();
        EXPECT_TRUE(secret.empty());
    }
}

}  // namespace
