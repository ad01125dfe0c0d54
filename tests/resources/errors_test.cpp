#include "resources/errors.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

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

// Every code gives its row's text, lookups by name and number find the same
// row, and zero or a code outside the table (another facility included) are
// described as such.
TEST(ErrorDescription, TableCodesZeroAndUnknownCodes) {
    for (const ErrorInfo& e : ErrorTable()) {
        EXPECT_EQ(ErrorDescription(MakeErrorCode(e.number)), e.text) << e.number;
    }
    EXPECT_EQ(ErrorDescription(0x8004274Cu), "The specified operation has timed out");
    const ErrorInfo* byName = FindErrorByName("fileErrorNotConnected");
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(FindErrorByNumber(byName->number), byName);
    EXPECT_EQ(FindErrorByNumber(10999), nullptr);
    EXPECT_EQ(ErrorDescription(0), "No error");
    for (const char* code : {"80041234", "800A00FF", "DEADBEEF", "8005274C"}) {
        EXPECT_EQ(ErrorDescription(static_cast<DWORD>(std::stoul(code, nullptr, 16))),
                  std::string("Undefined control error (0x") + code + ")");
    }
}
