#include "control/protocol_version.h"

#include <gtest/gtest.h>

#include "control/url_scheme.h"

namespace {

std::string RoundTrip(std::string_view text) {
    return FormatProtocolVersion(ParseProtocolVersion(text));
}

TEST(ProtocolVersionParsing, MajorAndMinor) {
    EXPECT_EQ(ParseProtocolVersion("1.1"), 0x00010001);
    EXPECT_EQ(RoundTrip("1.1"), "1.1");
    EXPECT_EQ(RoundTrip("2"), "2.0");
    EXPECT_EQ(RoundTrip("1.10"), "1.10");
    EXPECT_EQ(RoundTrip("  +3.2xyz"), "3.2");
    EXPECT_EQ(RoundTrip("1.x"), "1.0");
}

TEST(ProtocolVersionParsing, MajorZeroMeansZeroPointNine) {
    EXPECT_EQ(RoundTrip("0"), "0.9");
    EXPECT_EQ(RoundTrip("0.0"), "0.9");
    EXPECT_EQ(RoundTrip("0.5"), "0.9");
    EXPECT_EQ(RoundTrip(""), "0.9");
    EXPECT_EQ(RoundTrip("HTTP/1.1"), "0.9");
}

TEST(ProtocolVersionParsing, OnlyTheFirstDotCounts) {
    EXPECT_EQ(RoundTrip("1.2.3"), "1.2");
    EXPECT_EQ(RoundTrip("1 . 4"), "1.4");
}

TEST(ProtocolVersionParsing, HugeNumbersDoNotOverflow) {
    // Saturated, then cut to the 16-bit halves.
    EXPECT_NO_FATAL_FAILURE(RoundTrip("99999999999999999999.99999999999999999"));
    EXPECT_EQ(RoundTrip("1.65537"), "1.1");
}

TEST(UrlSchemeDetection, KnownSchemesSelectTheServerType) {
    EXPECT_EQ(DetectUrlScheme("http://h/"), 2);
    EXPECT_EQ(DetectUrlScheme("HTTPS://h/"), 2);
    EXPECT_EQ(DetectUrlScheme("ftp://h"), 1);
    EXPECT_EQ(DetectUrlScheme("Ftps://h"), 1);
    EXPECT_EQ(DetectUrlScheme("sftp://h"), 1);
}

TEST(UrlSchemeDetection, OtherTextsAreNoUrl) {
    EXPECT_EQ(DetectUrlScheme("gopher://h/"), 0);
    EXPECT_EQ(DetectUrlScheme(" ftp://h"), 0);
    EXPECT_EQ(DetectUrlScheme("ftp:/h"), 0);
    EXPECT_EQ(DetectUrlScheme("ftp.example.com"), 0);
    EXPECT_EQ(DetectUrlScheme("http:"), 0);
    EXPECT_EQ(DetectUrlScheme(""), 0);
    EXPECT_EQ(DetectUrlScheme("/dir/file"), 0);
}

}  // namespace
