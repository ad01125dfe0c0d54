// Start, stop and error state of the HTTP engine.
#include <gtest/gtest.h>

#include <cstring>

#include "http/http.h"
#include "platform/lasterror.h"
#include "resources/errors.h"

namespace {

TEST(HttpEngineStart, FillsTheLibraryRecordAndCountsReferences) {
    HttpLibraryInfo info{};
    info.size = HTTP_LIBRARY_INFO_SIZE;
    ASSERT_EQ(HttpInitialize(&info), 1);
    EXPECT_NE(info.module, nullptr);
    EXPECT_EQ(HttpInitialize(nullptr), 1);
    HttpUninitialize();
    // Still one reference: the socket runtime keeps running.
    char path[512] = {};
    EXPECT_GT(NetGetLibraryPath(path, sizeof path), 0);
    HttpUninitialize();
    HttpUninitialize();  // an extra stop is ignored
}

TEST(HttpEngineStart, RefusesARecordOfAnotherSize) {
    HttpLibraryInfo info{};
    info.size = 100;
    info.module = &info;
    EXPECT_EQ(HttpInitialize(&info), 0);
    EXPECT_EQ(HttpGetLastError(), MakeErrorCode(fileErrorInvalidParameter));
    EXPECT_EQ(info.module, nullptr);
}

TEST(HttpEngineErrors, NumbersGetTheFacilityBitsAndReachTheThread) {
    HttpSetLastError(fileErrorOperationTimeout);
    EXPECT_EQ(HttpGetLastError(), 0x8004274Cu);
    EXPECT_EQ(GetLastError(), 0x8004274Cu);
    HttpSetLastError(0x80070005u);
    EXPECT_EQ(HttpGetLastError(), 0x80070005u);
    HttpSetLastError(0);
    EXPECT_EQ(HttpGetLastError(), 0u);
}

TEST(HttpEngineErrors, TextsComeFromTheMessageTable) {
    char text[HTTP_ERROR_TEXT_SIZE];
    const int length = HttpGetErrorString(MakeErrorCode(fileErrorOperationTimeout), text);
    EXPECT_EQ(std::string(text), "The specified operation has timed out");
    EXPECT_EQ(length, static_cast<int>(std::strlen(text)));
    EXPECT_EQ(HttpGetErrorString(fileErrorNotConnected, text), 42);  // a bare number works too
    HttpSetLastError(fileErrorResourceNotFound);
    EXPECT_GT(HttpGetErrorString(0, text), 0);
    EXPECT_EQ(std::string(text), "The specified resource cannot be found");
    EXPECT_GT(HttpGetErrorString(0, nullptr), 0);
    HttpSetLastError(0);
    EXPECT_EQ(HttpGetErrorString(0, text), 0);
    EXPECT_EQ(HttpGetErrorString(0x80041234u, text), 0);
}

}  // namespace
