// The engine's pure rules: reply codes, SYST and FEAT keywords and PWD paths; passive
// replies and the private-address rule, active commands and the port range, line ends
// and EBCDIC tables, the automatic file type and SIZE replies.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "ftp/command_channel.h"
#include "ftp/data_address.h"
#include "ftp/file_size.h"
#include "ftp/file_types.h"
#include "ftp/ftp.h"
#include "ftp/tables.h"
#include "ftp/text_conversion.h"
#include "resources/errors.h"

namespace {

using namespace ftp;

NetAddress Address(const char* text) {
    // Address parsing uses the socket runtime's bound functions.
    static const bool started = [] {
        NetStartupData data{};
        return NetStartup(&data) == 0;
    }();
    EXPECT_TRUE(started);
    NetAddress address{};
    NetParseAddress(text, 0, &address);
    return address;
}

bool SameAddress(const NetAddress& a, const NetAddress& b) {
    return a.family == b.family && std::equal(a.address, a.address + 16, b.address);
}

TEST(PassiveReplies, PasvNumbersAreFoundInParenthesesBracketsOrAtTheFirstDigit) {
    struct Case {
        const char* text;
        const char* address;
        int port;
    };
    for (Case c : {Case{"Entering Passive Mode (127,0,0,2,156,64).", "127.0.0.2", 40000},
                   Case{"Entering Passive Mode [127,0,0,3,0,21]", "127.0.0.3", 21},
                   Case{"Entering Passive Mode 127,1,2,3,4,1", "127.1.2.3", 1025}}) {
        PassiveReply reply;
        ASSERT_EQ(ParsePasvReply(c.text, reply), 0) << c.text;
        EXPECT_EQ(reply.addressText, c.address);
        EXPECT_EQ(reply.port, c.port);
    }
}

TEST(PassiveReplies, MalformedPasvRepliesAreInvalid) {
    PassiveReply reply;
    for (const char* text : {"Entering Passive Mode", "(1,2,3,4,5)", "(1,2,3,4)", "(1,2,3,4,5,)",
                             "(256,1,1,1,1,1)", "(1,2,3,4,5,999)", ""})
        EXPECT_EQ(ParsePasvReply(text, reply), fileErrorInvalidServerResponse) << text;
    // Only the first 255 characters are looked at.
    std::string late = std::string(300, ' ') + "(1,2,3,4,5,6)";
    EXPECT_EQ(ParsePasvReply(late, reply), fileErrorInvalidServerResponse);
}

TEST(PassiveReplies, EpsvFieldsBetweenBars) {
    PassiveReply reply;
    ASSERT_EQ(ParseEpsvReply("Entering Extended Passive Mode (|||6446|)", reply), 0);
    EXPECT_EQ(reply.port, 6446);
    EXPECT_TRUE(reply.addressText.empty());
    ASSERT_EQ(ParseEpsvReply("ok (|2|::1|21|)", reply), 0);
    EXPECT_EQ(reply.addressText, "::1");
    ASSERT_EQ(ParseEpsvReply("(||||)", reply), 0);
    EXPECT_EQ(reply.port, 0);
    for (const char* text : {"no bars", "(|1|||21|)", "(|||65536|)", "(|||12a|)", "(||6446|)"})
        EXPECT_EQ(ParseEpsvReply(text, reply), fileErrorInvalidServerResponse) << text;
}

TEST(PassiveReplies, LoopbackAddressesGiveWayToTheServerAddress) {
    NetAddress server = Address("127.0.0.1");
    NetAddress target{};
    PassiveReply reply{"127.0.0.2", NET_FAMILY_IPV4, 5000};
    ASSERT_EQ(ChoosePassiveAddress(reply, server, false, target), 0);
    EXPECT_TRUE(SameAddress(target, server));
    for (const char* text : {"127.0.0.2", "127.5.5.5", "127.255.255.255", "::1"})
        EXPECT_TRUE(IsPrivateAddress(Address(text))) << text;
    reply = {"::1", NET_FAMILY_IPV6, 21};
    ASSERT_EQ(ChoosePassiveAddress(reply, server, true, target), 0);
    EXPECT_TRUE(SameAddress(target, server));
    // Unreadable addresses are the server's fault.
    reply = {"::1::2", NET_FAMILY_IPV6, 21};
    EXPECT_EQ(ChoosePassiveAddress(reply, server, false, target), fileErrorInvalidServerResponse);
    reply = {"999.1.1.1", NET_FAMILY_IPV4, 21};
    EXPECT_EQ(ChoosePassiveAddress(reply, server, false, target), fileErrorInvalidHostAddress);
}

TEST(ActiveCommands, PortRangeWalk) {
    ActivePortWalk system(1025, 4999, 12345);
    EXPECT_TRUE(system.systemChooses());
    ActivePortWalk small(40000, 40005, 12345);
    EXPECT_FALSE(small.systemChooses());
    EXPECT_EQ(small.first(), 40000);
    EXPECT_EQ(small.attempts(), 5);
    ActivePortWalk spread(40000, 40100, 12345);
    EXPECT_EQ(spread.first(), 40000 + 12345 % 100);
    EXPECT_EQ(spread.Next(40100), 40000);
    EXPECT_EQ(spread.Next(40050), 40051);
    ActivePortWalk huge(2000, 60000, 7);
    EXPECT_EQ(huge.attempts(), 1000);
    ActivePortWalk single(50000, 50000, 7);
    EXPECT_EQ(single.first(), 50000);
    EXPECT_EQ(single.attempts(), 1);
}

std::string Decode(int type, const std::vector<std::string>& chunks, bool oneLine = false) {
    LineEndState state;
    std::string out;
    for (const std::string& chunk : chunks) {
        std::span<const char> in(chunk);
        while (!in.empty()) {
            char buffer[64];
            DecodeResult r = DecodeData(type, state, in, buffer, oneLine);
            out.append(buffer, r.produced);
            in = in.subspan(r.consumed);
        }
    }
    char last[1];
    out.append(last, FinishDecode(state, last));
    return out;
}

std::string Encode(int type, const std::vector<std::string>& chunks, std::size_t room = 64) {
    LineEndState state;
    std::string out;
    for (const std::string& chunk : chunks) {
        std::span<const char> in(chunk);
        while (!in.empty()) {
            std::vector<char> buffer(room);
            EncodeResult r = EncodeData(type, state, in, buffer);
            out.append(buffer.data(), r.produced);
            in = in.subspan(r.consumed);
        }
    }
    return out;
}

TEST(LineEnds, AsciiReadsCrLfAsLfEvenAcrossBlocks) {
    EXPECT_EQ(Decode(FTP_FILE_TYPE_ASCII, {"a\r\nb\r\n"}), "a\nb\n");
    EXPECT_EQ(Decode(FTP_FILE_TYPE_ASCII, {"a\r", "\nb\r", "\n"}), "a\nb\n");
    // A lone CR stays, also when it is the very last byte.
    EXPECT_EQ(Decode(FTP_FILE_TYPE_ASCII, {"a\rb\r", "c\r"}), "a\rb\rc\r");
    EXPECT_EQ(Decode(FTP_FILE_TYPE_ASCII, {"a\n\r\r\n"}), "a\n\r\n");
    EXPECT_EQ(Decode(FTP_FILE_TYPE_IMAGE, {"a\r\n"}), "a\r\n");
}

// A full output stops the copy without losing the held-back CR. (A line per
// read over a session is transfer_test.cpp's AsciiReadGivesOneLocalLinePerCall.)
TEST(LineEnds, OneLineStopsAfterTheLineEndEvenWithRoomForOneCharacter) {
    LineEndState state;
    std::string crlf = "x\r\n";
    char tiny[1];
    DecodeResult r = DecodeData(FTP_FILE_TYPE_ASCII, state, crlf, tiny, true);
    EXPECT_EQ(r.produced, 1u);
    r = DecodeData(FTP_FILE_TYPE_ASCII, state, std::span<const char>(crlf).subspan(r.consumed),
                   tiny, true);
    EXPECT_EQ(tiny[0], '\n');
    EXPECT_TRUE(r.lineEnded);
}

TEST(LineEnds, AsciiWritesLfAsCrLfButNeverDoublesTheCr) {
    EXPECT_EQ(Encode(FTP_FILE_TYPE_ASCII, {"a\nb\n"}), "a\r\nb\r\n");
    EXPECT_EQ(Encode(FTP_FILE_TYPE_ASCII, {"a\r\nb"}), "a\r\nb");
    EXPECT_EQ(Encode(FTP_FILE_TYPE_ASCII, {"a\r", "\nb"}), "a\r\nb");
    // Only two free places take a CR LF: the LF waits for the next block.
    EXPECT_EQ(Encode(FTP_FILE_TYPE_ASCII, {"abc\ndef\n"}, 4), "abc\r\ndef\r\n");
    EXPECT_EQ(Encode(FTP_FILE_TYPE_IMAGE, {"a\n"}), "a\n");
}

// (Letters and the record mark on the wire are the next test's.)
TEST(Ebcdic, TablesRoundTrip) {
    for (int c = 0; c < 256; ++c) {
        auto byte = static_cast<std::uint8_t>(c);
        EXPECT_EQ(EbcdicToAscii(AsciiToEbcdic(byte)), byte) << c;
        EXPECT_EQ(AsciiToEbcdic(EbcdicToAscii(byte)), byte) << c;
    }
}

TEST(Ebcdic, LineEndsBecomeTheRecordMarkAndBack) {
    std::string wire = Encode(FTP_FILE_TYPE_EBCDIC, {"AB\r\nC\n"});
    EXPECT_EQ(wire, std::string("\xC1\xC2\x17\xC3\x17"));
    EXPECT_EQ(Decode(FTP_FILE_TYPE_EBCDIC, {wire}), "AB\nC\n");
    std::string text = "Hello, World 123!\n";
    EXPECT_EQ(Decode(FTP_FILE_TYPE_EBCDIC, {Encode(FTP_FILE_TYPE_EBCDIC, {text})}), text);
}

class FileTypes : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(FtpInitialize(nullptr), 1); }
    void TearDown() override { FtpUninitialize(); }
};

TEST_F(FileTypes, ExtensionOfTheLastPathElement) {
    for (auto [path, extension] : {std::pair{"dir.d/readme.TXT", "TXT"},
                                   {"c:\\dir.x\\file", ""},
                                   {"c:name.ini", "ini"},
                                   {"archive.tar.gz", "gz"},
                                   {"trailing.", ""},
                                   {"dir.d/noext", ""}})
        EXPECT_EQ(ExtensionOf(path), extension) << path;
}

TEST_F(FileTypes, TextListRulesAndDefault) {
    EXPECT_EQ(GuessFileTypeOfName("index.HTML", false, 3), FTP_FILE_TYPE_ASCII);
    EXPECT_EQ(GuessFileTypeOfName("app.manifest", false, 3), FTP_FILE_TYPE_ASCII);
    EXPECT_EQ(GuessFileTypeOfName("photo.jpg", false, 3), FTP_FILE_TYPE_IMAGE);
    EXPECT_EQ(GuessFileTypeOfName("", false, 3), -1);
    EXPECT_EQ(FtpAddFileType("  .JPG", FTP_FILE_TYPE_EBCDIC), 1);
    EXPECT_EQ(GuessFileTypeOfName("photo.jpg", false, 3), FTP_FILE_TYPE_EBCDIC);
    // A rule wins over the text list, and a second rule for the same extension replaces it.
    EXPECT_EQ(FtpAddFileType("txt", FTP_FILE_TYPE_IMAGE), 1);
    EXPECT_EQ(FtpAddFileType("TXT", FTP_FILE_TYPE_EBCDIC), 1);
    EXPECT_EQ(GuessFileTypeOfName("a.txt", false, 3), FTP_FILE_TYPE_EBCDIC);
    EXPECT_EQ(FtpAddFileType("bin", 4), 0);
    EXPECT_EQ(FtpGetLastError(), MakeErrorCode(fileErrorInvalidFileType));
    EXPECT_EQ(FtpAddFileType(" .", 1), 0);
    EXPECT_EQ(FtpGetLastError(), MakeErrorCode(fileErrorInvalidParameter));
    FtpUninitialize();
    EXPECT_EQ(FtpAddFileType("bin", 1), 0);
    EXPECT_EQ(FtpGetLastError(), MakeErrorCode(fileErrorNetworkNotInitialized));
    ASSERT_EQ(FtpInitialize(nullptr), 1);
    // The last shut-down forgot the rules.
    EXPECT_EQ(GuessFileTypeOfName("a.txt", false, 3), FTP_FILE_TYPE_ASCII);
}

TEST_F(FileTypes, ContentSniffingLooksAtTheFirstBlock) {
    auto dir = std::filesystem::temp_directory_path() / ("ft-sniff-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    auto write = [&](const char* name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return (dir / name).string();
    };
    std::string text = write("plain", "line one\r\n\tline two\x1b[0m\n");
    std::string binary = write("binary", std::string("abc\0def", 7));
    std::string high = write("high", "caf\xC3\xA9");
    std::string lateBinary = write("late", std::string(5000, 'a') + '\x01');
    std::string empty = write("empty", "");
    EXPECT_EQ(GuessFileTypeOfName(text, true, 2), FTP_FILE_TYPE_ASCII);
    EXPECT_EQ(GuessFileTypeOfName(binary, true, 2), FTP_FILE_TYPE_IMAGE);
    EXPECT_EQ(GuessFileTypeOfName(high, true, 2), FTP_FILE_TYPE_IMAGE);
    EXPECT_EQ(GuessFileTypeOfName(lateBinary, true, 2), FTP_FILE_TYPE_ASCII);
    EXPECT_EQ(GuessFileTypeOfName(empty, true, 2), 2);
    EXPECT_EQ(GuessFileTypeOfName((dir / "missing").string(), true, 2), 2);
    EXPECT_EQ(GuessFileTypeOfName(binary, false, 2), 2);
    std::filesystem::remove_all(dir);
}

TEST(SizeReplies, NumbersUpToSixtyFourBits) {
    std::uint64_t size = 1;
    for (auto [text, value] : {std::pair<const char*, std::uint64_t>{"5000000123", 5000000123u},
                               {"file.txt; 42", 42u},
                               {"18446744073709551615", 18446744073709551615u}}) {
        ASSERT_TRUE(ParseSizeReply(text, size)) << text;
        EXPECT_EQ(size, value);
    }
    for (const char* text : {"", "x", "12x", "18446744073709551616", "a;", "-1"})
        EXPECT_FALSE(ParseSizeReply(text, size)) << text;
}

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
