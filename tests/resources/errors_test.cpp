#include "resources/errors.h"

#include <gtest/gtest.h>

#include <set>

TEST(ErrorTable, NumbersAreUniqueAndNamed) {
    std::set<int> numbers;
    std::set<std::string> names;
    for (const ErrorInfo& e : ErrorTable()) {
        EXPECT_TRUE(numbers.insert(e.number).second) << e.number;
        EXPECT_GE(e.number, 10000);
        EXPECT_LE(e.number, 12378);
        EXPECT_NE(e.text[0], '\0') << e.number;
        if (e.number != 10000) {
            EXPECT_TRUE(std::string_view(e.name).starts_with("fileError")) << e.number;
            EXPECT_TRUE(names.insert(e.name).second) << e.name;
        }
    }
    EXPECT_EQ(ErrorTable().size(), 239u);  // guards against a lost row
}

TEST(ErrorTable, EveryCodeGivesItsExactText) {
    for (const ErrorInfo& e : ErrorTable()) {
        EXPECT_EQ(ErrorDescription(MakeErrorCode(e.number)), e.text) << e.number;
    }
    EXPECT_EQ(ErrorDescription(0x8004274Cu), "The specified operation has timed out");
}

TEST(ErrorTable, LookupsByNameAndNumber) {
    const ErrorInfo* byName = FindErrorByName("fileErrorNotConnected");
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(FindErrorByNumber(byName->number), byName);
    EXPECT_EQ(FindErrorByNumber(10999), nullptr);
}

TEST(ErrorDescription, ZeroAndUnknownCodes) {
    EXPECT_EQ(ErrorDescription(0), "No error");
    EXPECT_EQ(ErrorDescription(0x80041234u), "Undefined control error (0x80041234)");
    EXPECT_EQ(ErrorDescription(0x800A00FFu), "Undefined control error (0x800A00FF)");
    EXPECT_EQ(ErrorDescription(0xdeadbeefu), "Undefined control error (0xDEADBEEF)");
    // Same number under another facility is not a table code.
    EXPECT_EQ(ErrorDescription(0x8005274Cu), "Undefined control error (0x8005274C)");
}
