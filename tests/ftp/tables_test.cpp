// The engine's tables and pure helpers: reply codes, SYST and FEAT keywords,
// proxy login sequences, PWD paths and the handle table.
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

TEST(ReplyCodeTable, EveryListedCodeFailsWithItsError) {
    const std::vector<std::pair<int, int>> expected = {
        {120, 12208}, {421, 12207}, {425, 12258}, {426, 10004}, {450, 12264},
        {451, 10004}, {452, 12265}, {500, 12214}, {501, 12215}, {502, 12217},
        {503, 12216}, {504, 12217}, {521, 12259}, {522, 12260}, {530, 12230},
        {532, 12225}, {550, 10013}, {552, 12266}, {553, 10008},
    };
    for (auto [code, error] : expected) {
        EXPECT_EQ(ReplyCodeError(code), error) << code;
        EXPECT_EQ(ReplyOutcome(code), error) << code;
    }
}

TEST(ReplyCodeTable, UnlistedCodesAreJudgedByTheirClass) {
    for (int code : {110, 125, 150, 200, 220, 226, 230, 257, 331, 350, 399}) {
        EXPECT_EQ(ReplyOutcome(code), 0) << code;
    }
    for (int code : {0, 99, 400, 431, 535, 599, 600, 999}) {
        EXPECT_EQ(ReplyOutcome(code), fileErrorInvalidServerResponse) << code;
    }
}

TEST(SystemTypeTable, KeywordAnywhereInAnyCase) {
    const SystemTypeEntry* unix = FindSystemType("UNIX Type: L8");
    ASSERT_NE(unix, nullptr);
    EXPECT_EQ(unix->type, kSystemUnix);
    EXPECT_EQ(unix->clearedFeatures, 0u);

    const SystemTypeEntry* windows = FindSystemType("Windows_NT version 10");
    ASSERT_NE(windows, nullptr);
    EXPECT_EQ(windows->type, kSystemWindows);
    EXPECT_EQ(windows->clearedFeatures, 0x65u);

    EXPECT_EQ(FindSystemType("ms-dos emulation")->type, kSystemMsDos);
    EXPECT_EQ(FindSystemType("OpenVMS V8")->clearedFeatures, 0x42u);
    EXPECT_EQ(FindSystemType("NetWare 6")->clearedFeatures, 0x62u);
    EXPECT_EQ(FindSystemType("Plan 9"), nullptr);
}

TEST(SystemTypeTable, FirstEntryWinsWhenSeveralMatch) {
    EXPECT_EQ(FindSystemType("Windows server emulating UNIX")->type, kSystemUnix);
}

TEST(FeatureTable, EveryKeywordAddsItsBit) {
    std::uint32_t bits = FeaturesFromFeatReply(
        "Features:\n EPRT\n EPSV\n MDTM\n PASV\n REST STREAM\n SIZE\n TVFS\n UTF8\n End");
    EXPECT_EQ(bits, kFeatureEprt | kFeatureEpsv | kFeatureMdtm | kFeatureRest | kFeatureSize |
                        kFeatureTvfs | kFeatureUtf8);
    EXPECT_EQ(FeaturesFromFeatReply("auth tls\n pbsz\n prot\n ccc\n mlst type*;\n mfmt\n xcrc "
                                    "\n xmd5\n lang en\n xquota\n stat"),
              kFeatureAuth | kFeaturePbsz | kFeatureProt | kFeatureCcc | kFeatureMlst |
                  kFeatureMfmt | kFeatureXcrc | kFeatureXmd5 | kFeatureLang | kFeatureXquota |
                  kFeatureStat);
    EXPECT_EQ(FeaturesFromFeatReply("No features"), 0u);
}

TEST(FeatureTable, TimeCommandsStayAvailableWithoutMdtmOrMfmt) {
    EXPECT_EQ(WithTimeCommandFallback(0), kFeatureMdtm | kFeatureUtime);
    EXPECT_EQ(WithTimeCommandFallback(kFeatureMfmt), kFeatureMfmt);
    EXPECT_EQ(WithTimeCommandFallback(kFeatureMdtm | kFeatureSize), kFeatureMdtm | kFeatureSize);
}

TEST(ProxyTable, LoginSequencesByKind) {
    auto login = ProxyLoginSteps(kProxyLogin);
    ASSERT_EQ(login.size(), 2u);
    EXPECT_EQ(login[0].command, "USER");
    EXPECT_EQ(login[1].command, "PASS");
    EXPECT_EQ(login[1].onlyAfter, 331);

    auto open = ProxyLoginSteps(kProxyOpen);
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].command, "OPEN");
    EXPECT_EQ(open[0].argument, ProxyArgument::ServerHost);

    auto site = ProxyLoginSteps(kProxySite);
    ASSERT_EQ(site.size(), 3u);
    EXPECT_EQ(site[2].command, "SITE");
    EXPECT_EQ(site[2].onlyAfter, 0);

    EXPECT_TRUE(ProxyLoginSteps(kProxyFtpUser).empty());
    EXPECT_TRUE(ProxyLoginSteps(kProxyOther).empty());
    EXPECT_TRUE(ProxySendsUserAtHost(kProxyFtpUser));
    EXPECT_TRUE(ProxySendsUserAtHost(kProxyLogin));
    EXPECT_FALSE(ProxySendsUserAtHost(kProxySite));
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
