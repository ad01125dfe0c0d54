// MLSD/MLST facts (RFC 3659): the exact name after the one blank, every fact
// type, links, broken lines; and the choice between MLSD and LIST that
// FtpSetListingFacts makes over scripted control and data connections.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ftp/directory.h"
#include "ftp/listing_facts.h"
#include "tests/ftp/listing_session.h"

namespace {

using namespace ftptest;
using testsupport::DataPeer;

// ---- The facts parser ----------------------------------------------------------------

struct FactsCase {
    const char* line;
    const char* name;
    std::uint64_t size;
    std::uint32_t permissions;
    int directory;
    bool link;
    const char* target;
    const char* owner = "";
    const char* group = "";
};

TEST(FactsLine, NamesSizesTypesAndModes) {
    const FactsCase cases[] = {
        // (Leading, inner and trailing blanks one at a time, and sizes beyond
        // 4 GiB, are proftpd's in cli_ftp_test.cpp.)
        {"type=file;size=3;   all three  \r\n", "  all three  ", 3, 0, 0, false, ""},
        {"type=file;size=3; a=b;c.txt", "a=b;c.txt", 3, 0, 0, false, ""},
        {"type=dir;sizd=4096;perm=flcdmpe; sub", "sub", 4096, 0, 1, false, ""},
        {"sizd=4096;size=7;type=dir; both", "both", 7, 0, 1, false, ""},
        {"unix.mode=0644;perm=adfrw;type=file; mode first", "mode first", 0, 0644, 0, false, ""},
        {"type=OS.unix=slink:/srv/t.txt;unix.mode=0777; ln", "ln", 0, 0777 | FTP_PERM_SYMLINK, 0,
         true, "/srv/t.txt"},
        {"Type=OS.UNIX=symlink; ln2", "ln2", 0, FTP_PERM_SYMLINK, 0, true, ""},
        {"type=OS.unix=blk;size=0; dev", "dev", 0, 0, 0, false, ""},
        // Names win over numeric ids that follow them (proftpd's order, ids first, is
        // cli_ftp_test.cpp's); an empty name says nothing.
        {"unix.ownername=ann;unix.uid=7;unix.groupname=;unix.gid=8; g", "g", 0, 0, 0, false, "",
         "ann", "8"},
        // The perm fact gives the rights when no mode does; bad values are ignored.
        {"Type=PDIR;Perm=elw; x", "x", 0, 0x80, 1, false, ""},
        {"type=file;perm=rw;unix.uid=0;unix.gid=0; f", "f", 0, 0x180, 0, false, "", "0", "0"},
        {"size=12x;modify=2024;unix.mode=0755; y", "y", 0, 0755, 0, false, ""},
        // An MLST status reply: the text lines around the facts are skipped.
        {"Listing /pub/a;b.txt\n type=file;size=7; /pub/a;b.txt\n End", "/pub/a;b.txt", 7, 0, 0,
         false, ""},
    };
    for (const FactsCase& c : cases) {
        SCOPED_TRACE(c.line);
        ftp::ListingEntry entry;
        ASSERT_TRUE(ftp::ParseFacts(c.line, entry));
        EXPECT_EQ(std::string(entry.fields.name), c.name);
        EXPECT_EQ(entry.fields.size, c.size);
        EXPECT_EQ(entry.fields.permissions, c.permissions);
        EXPECT_EQ(entry.fields.directory, c.directory);
        EXPECT_EQ(entry.link, c.link);
        EXPECT_EQ(entry.LinkTarget(), c.target);
        EXPECT_STREQ(entry.fields.owner, c.owner);
        EXPECT_STREQ(entry.fields.group, c.group);
        // The record handed out counts a link as a directory, as for LIST.
        FtpDirectoryEntry record{};
        ASSERT_TRUE(ftp::ParseFacts(c.line, record));
        EXPECT_EQ(record.directory, c.directory || c.link ? 1 : 0);
    }
}

TEST(FactsLine, ModifyIsReadAsSentWithOrWithoutFraction) {
    FtpDirectoryEntry entry{};
    ASSERT_TRUE(ftp::ParseFacts("modify=20231231235958.123;type=file; f", entry));
    EXPECT_EQ(TimeText(entry.date), "2023-12-31 23:59:58");
    ASSERT_TRUE(ftp::ParseFacts("modify=20230229000000;type=file; g", entry));
    EXPECT_EQ(entry.date.wYear, 0);  // no such day: no date, the entry stays
}

TEST(FactsLine, BrokenLinesGiveNoEntry) {
    for (const char* line :
         {"", "garbage without facts", "type=file;size=1;", "type=file;size=1 name",
          "type=file size=1; name", "type;size=1; x", "type=file;=1; x", "type=file;\tname",
          "type=file; \r\n", "-rw-r--r-- 1 a b 1 Jan 02 2020 x=y"}) {
        FtpDirectoryEntry entry{};
        entry.size = 99;
        EXPECT_FALSE(ftp::ParseFacts(line, entry)) << line;
        EXPECT_EQ(entry.size, 99u) << line;
    }
}

TEST(FactsLine, ListedAndParentDirectoriesAreToldApart) {
    EXPECT_TRUE(ftp::IsFactsOfListedOrParentDirectory("type=cdir;perm=el; /pub"));
    EXPECT_TRUE(ftp::IsFactsOfListedOrParentDirectory("Type=PDIR; .."));
    EXPECT_FALSE(ftp::IsFactsOfListedOrParentDirectory("type=dir; cdir"));
    EXPECT_FALSE(ftp::IsFactsOfListedOrParentDirectory("type=cdir;"));
}

// ---- MLSD or LIST over a session ----------------------------------------------------------

const std::string kMlstFeat = Features({"MLST modify*;perm*;size*;type*;unix.mode*;"});

using MlsdSessionTest = EngineTest;

// Asked for by FtpSetListingFacts or by the MLSD format (which needs the MLST
// feature: session_test's SettingsValidateAndClamp).
TEST_F(MlsdSessionTest, OfferedMlstListsByFactsSkippingDirectoriesAndBrokenLines) {
    for (const bool byFormat : {false, true}) {
        SCOPED_TRACE(byFormat ? "format" : "facts");
        DataPeer data({.payload = "type=cdir;perm=el;modify=20240102030405; /pub\r\n"
                                  "type=pdir;perm=el; /\r\n"
                                  "modify=20240102030405.5;perm=adfrw;size=5000000000;type=file;"
                                  "UNIX.mode=0640;UNIX.owner=1000;UNIX.group=1001; two ;inner \r\n"
                                  "type=dir;sizd=4096;unix.mode=0755; sub\r\n"
                                  "this line has no facts\r\n"
                                  "type=OS.unix=slink:/pub/two;unix.mode=0777; ln\r\n",
                       .chunk = 29});
        PeerSession client(Listing(data, "MLSD pub"), Passive(kUnixSyst, kMlstFeat));
        if (byFormat) {
            ASSERT_EQ(FtpSetDirectoryFormat(client, FTP_DIRECTORY_MLSD), 0);
        } else {
            EXPECT_EQ(FtpSetListingFacts(client, TRUE), 0);
        }

        const std::vector<FtpDirectoryEntry> entries = ListAll(client, "pub");
        ASSERT_EQ(entries.size(), 3u);
        EXPECT_EQ(Summary(entries[0]),
                  "two ;inner |5000000000|640|f|1000:1001|2024-01-02 03:04:05");
        EXPECT_EQ(Summary(entries[1]), "sub|4096|755|d|:|0000-00-00 00:00:00");
        EXPECT_EQ(Summary(entries[2]), "ln|0|10777|d|:|0000-00-00 00:00:00");
        EXPECT_EQ(FtpListingHasFacts(client), 1);
        // A listing by facts leaves the detected layout alone.
        EXPECT_EQ(FtpGetDirectoryFormat(client),
                  byFormat ? FTP_DIRECTORY_MLSD : FTP_DIRECTORY_AUTO);
        EXPECT_EQ(client.Finish(), "TYPE A|PASV|MLSD pub|TYPE I");
    }
}

struct ChoiceCase {
    const char* label;
    bool offered;
    bool prefer;
    int chosenFormat;
    const char* path;
    const char* command;
    // MLSD refused with this reply first; the listing goes to LIST, and so does the next.
    const char* refusal = nullptr;
};

class ListingChoice : public EngineTest, public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(ListingChoice, ListIsKeptUnlessFactsAreAskedForAndPossible) {
    const ChoiceCase& c = GetParam();
    const std::string listing = std::string(c.command) + " " + c.path;
    DataPeer refused, data, again;
    data.Serve({.payload = "-rw-r--r-- 1 a b 1 Jan 02 2020 x\r\n"});
    again.Serve({.payload = "-rw-r--r-- 1 a b 1 Jan 02 2020 y\r\n"});
    PeerScript script;
    if (c.refusal) {
        script.Reply("TYPE A", "200 ASCII\r\n")
            .Reply("PASV", refused.PasvReply())
            .Reply(std::string("MLSD ") + c.path, c.refusal)
            .Reply("PASV", data.PasvReply())
            .Reply(listing, "150 Here comes the directory listing.\r\n")
            .Send("226 Directory send OK.\r\n")
            .Reply("TYPE I", "200 Binary\r\n");
        script = Listing(again, listing, script);
    } else {
        script = Listing(data, listing);
    }
    PeerSession client(std::move(script), Passive(kUnixSyst, c.offered ? kMlstFeat : kNoFeatures));
    FtpSetListingFacts(client, c.prefer ? TRUE : FALSE);
    if (c.chosenFormat != FTP_DIRECTORY_AUTO) {
        ASSERT_EQ(FtpSetDirectoryFormat(client, c.chosenFormat), 0);
    }
    EXPECT_EQ(ListAll(client, c.path).size(), 1u);
    EXPECT_EQ(FtpListingHasFacts(client), 0);
    std::string expected = "TYPE A|PASV|" + listing + "|TYPE I";
    if (c.refusal) {
        EXPECT_EQ(FtpGetFeatures(client) & 0x1000u, 0u);  // MLST forgotten
        EXPECT_EQ(ListAll(client, c.path).size(), 1u);
        EXPECT_EQ(FtpGetDirectoryFormat(client), FTP_DIRECTORY_UNIX);  // detected, not MLSD
        expected =
            "TYPE A|PASV|MLSD " + std::string(c.path) + "|PASV|" + listing + "|TYPE I|" + expected;
    }
    EXPECT_EQ(client.Finish(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ListingChoice,
    ::testing::Values(ChoiceCase{"NotAskedFor", true, false, FTP_DIRECTORY_AUTO, "pub", "LIST"},
                      ChoiceCase{"NotOffered", false, true, FTP_DIRECTORY_AUTO, "pub", "LIST"},
                      ChoiceCase{"LayoutChosen", true, true, FTP_DIRECTORY_UNIX, "pub", "LIST"},
                      ChoiceCase{"Mask", true, true, FTP_DIRECTORY_AUTO, "*.txt", "LIST"},
                      ChoiceCase{"RefusedByFacts", true, true, FTP_DIRECTORY_AUTO, "pub", "LIST",
                                 "500 Unknown command.\r\n"},
                      ChoiceCase{"RefusedByFormat", true, false, FTP_DIRECTORY_MLSD, "pub", "LIST",
                                 "502 Command not implemented.\r\n"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
