// The engine's table readers and pure helpers: reply codes, SYST and FEAT
// keywords, PWD paths and the handle table.
#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "ftp/command_channel.h"
#include "ftp/handle_table.h"
#include "ftp/tables.h"
#include "resources/errors.h"

namespace {

using namespace ftp;

// Listed codes fail with their row's error (whatever their class), the others
// by their class. (The rows themselves show in the session and transfer tests.)
TEST(ReplyCodeTable, ListedCodesByTheirRowOthersByTheirClass) {
    for (auto [code, error] : {std::pair{120, 12208}, {426, 10004}, {553, 10008}}) {
        EXPECT_EQ(ReplyCodeError(code), error) << code;
        EXPECT_EQ(ReplyOutcome(code), error) << code;
    }
    for (int code : {110, 125, 150, 200, 220, 226, 230, 257, 331, 350, 399})
        EXPECT_EQ(ReplyOutcome(code), 0) << code;
    for (int code : {0, 99, 400, 431, 535, 599, 600, 999})
        EXPECT_EQ(ReplyOutcome(code), fileErrorInvalidServerResponse) << code;
}

TEST(SystemTypeTable, KeywordAnywhereInAnyCaseAndTheFirstRowWins) {
    EXPECT_EQ(FindSystemType("UNIX Type: L8")->type, kSystemUnix);
    EXPECT_EQ(FindSystemType("ms-dos emulation")->type, kSystemMsDos);
    EXPECT_EQ(FindSystemType("Windows_NT version 10")->type, kSystemWindows);
    EXPECT_EQ(FindSystemType("Windows server emulating UNIX")->type, kSystemUnix);
    EXPECT_EQ(FindSystemType("Plan 9"), nullptr);
}

TEST(FeatureTable, KeywordsOfEveryLineInAnyCase) {
    EXPECT_EQ(
        FeaturesFromFeatReply("Features:\n EPSV\n mdtm\n REST STREAM\n mlst type*;\n"
                              " auth tls\n xquota\n End"),
        kFeatureEpsv | kFeatureMdtm | kFeatureRest | kFeatureMlst | kFeatureAuth | kFeatureXquota);
    EXPECT_EQ(FeaturesFromFeatReply("No features"), 0u);
}

TEST(FeatureTable, TimeCommandsStayAvailableWithoutMdtmOrMfmt) {
    EXPECT_EQ(WithTimeCommandFallback(0), kFeatureMdtm | kFeatureUtime);
    EXPECT_EQ(WithTimeCommandFallback(kFeatureMfmt), kFeatureMfmt);
    EXPECT_EQ(WithTimeCommandFallback(kFeatureMdtm | kFeatureSize), kFeatureMdtm | kFeatureSize);
}

TEST(PwdReply, PathBetweenQuotesWithDoubledQuotes) {
    EXPECT_EQ(ParsePwdPath("\"/home/bob\" is the current directory"), "/home/bob");
    EXPECT_EQ(ParsePwdPath("\"/a \"\"q\"\" b\" is current"), "/a \"q\" b");
    EXPECT_EQ(ParsePwdPath("\"/unterminated"), "/unterminated");
    EXPECT_EQ(ParsePwdPath("\""), "");
    EXPECT_EQ(ParsePwdPath(""), "");
}

TEST(PwdReply, PathIsCappedAt511Characters) {
    std::string text = "\"/" + std::string(1000, 'd') + "\"";
    EXPECT_EQ(ParsePwdPath(text).size(), 511u);
}

TEST(HandleTable, HandlesAreBasePlusSlotAndSlotsAreReused) {
    HandleTable table(4100);
    auto first = std::make_shared<FtpSession>();
    auto second = std::make_shared<FtpSession>();
    ASSERT_TRUE(table.Add(first));
    ASSERT_TRUE(table.Add(second));
    EXPECT_EQ(first->handle, 4100);
    EXPECT_EQ(second->handle, 4101);
    EXPECT_EQ(table.capacity(), HandleTable::kGrowth);

    EXPECT_TRUE(table.Remove(*first));
    EXPECT_EQ(table.Find(4100), nullptr);
    EXPECT_FALSE(table.Remove(*first));

    auto third = std::make_shared<FtpSession>();
    ASSERT_TRUE(table.Add(third));
    EXPECT_EQ(third->handle, 4100);  // the released value answers again
    EXPECT_EQ(table.Find(4100), third);
}

TEST(HandleTable, OutOfRangeHandlesFindNothing) {
    HandleTable table(4096);
    auto session = std::make_shared<FtpSession>();
    table.Add(session);
    EXPECT_EQ(table.Find(-1), nullptr);
    EXPECT_EQ(table.Find(4095), nullptr);
    EXPECT_EQ(table.Find(4096 + HandleTable::kGrowth), nullptr);
    EXPECT_EQ(table.Find(4097), nullptr);  // empty slot
}

TEST(HandleTable, GrowsBy256AndClearsAtTheEnd) {
    HandleTable table(5000);
    std::vector<SessionRef> sessions;
    for (std::size_t i = 0; i <= HandleTable::kGrowth; ++i) {
        sessions.push_back(std::make_shared<FtpSession>());
        ASSERT_TRUE(table.Add(sessions.back()));
    }
    EXPECT_EQ(table.capacity(), 2 * HandleTable::kGrowth);
    EXPECT_EQ(sessions.back()->handle, 5000 + static_cast<FtpClient>(HandleTable::kGrowth));
    EXPECT_EQ(table.count(), HandleTable::kGrowth + 1);
    table.Clear();
    EXPECT_EQ(table.capacity(), 0u);
}

}  // namespace
