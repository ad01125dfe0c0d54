// The engine's table readers and pure helpers: reply codes, SYST and FEAT
// keywords and PWD paths.
#include <gtest/gtest.h>

#include <utility>

#include "ftp/command_channel.h"
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

// FEAT keywords of every line in any case; the time commands stay available
// without MDTM or MFMT.
TEST(FeatureTable, KeywordsAndTheTimeCommandFallback) {
    EXPECT_EQ(
        FeaturesFromFeatReply("Features:\n EPSV\n mdtm\n REST STREAM\n mlst type*;\n"
                              " auth tls\n xquota\n End"),
        kFeatureEpsv | kFeatureMdtm | kFeatureRest | kFeatureMlst | kFeatureAuth | kFeatureXquota);
    EXPECT_EQ(FeaturesFromFeatReply("No features"), 0u);
    EXPECT_EQ(WithTimeCommandFallback(0), kFeatureMdtm | kFeatureUtime);
    EXPECT_EQ(WithTimeCommandFallback(kFeatureMfmt), kFeatureMfmt);
    EXPECT_EQ(WithTimeCommandFallback(kFeatureMdtm | kFeatureSize), kFeatureMdtm | kFeatureSize);
}

// The path between quotes with doubled quotes, capped at 511 characters.
TEST(PwdReply, PathBetweenQuotes) {
    for (auto [reply, path] : {std::pair{"\"/home/bob\" is the current directory", "/home/bob"},
                               {"\"/a \"\"q\"\" b\" is current", "/a \"q\" b"},
                               {"\"/unterminated", "/unterminated"},
                               {"\"", ""},
                               {"", ""}})
        EXPECT_EQ(ParsePwdPath(reply), path) << reply;
    EXPECT_EQ(ParsePwdPath("\"/" + std::string(1000, 'd') + "\"").size(), 511u);
}

}  // namespace
