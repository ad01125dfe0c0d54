#include "control/protocol_version.h"

#include <gtest/gtest.h>

namespace {

TEST(ProtocolVersionParsing, ReadsMajorAndMinorAndNormalises) {
    EXPECT_EQ(ParseProtocolVersion("1.1"), 0x00010001);
    const std::pair<const char*, const char*> cases[] = {
        {"1.1", "1.1"},
        {"2", "2.0"},
        {"1.10", "1.10"},
        {"  +3.2xyz", "3.2"},
        {"1.x", "1.0"},
        // Major zero means 0.9.
        {"0", "0.9"},
        {"0.0", "0.9"},
        {"0.5", "0.9"},
        {"", "0.9"},
        {"HTTP/1.1", "0.9"},
        // Only the first dot counts.
        {"1.2.3", "1.2"},
        {"1 . 4", "1.4"},
        // Huge numbers saturate, then are cut to the 16-bit halves.
        {"1.65537", "1.1"},
    };
    for (const auto& [text, normalised] : cases)
        EXPECT_EQ(FormatProtocolVersion(ParseProtocolVersion(text)), normalised) << text;
    EXPECT_NO_FATAL_FAILURE(ParseProtocolVersion("99999999999999999999.99999999999999999"));
}

}  // namespace
