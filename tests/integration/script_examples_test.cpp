// The scripts of examples/ run by `filetransfer run` against the loopback
// vsftpd (plain and with TLS) and sshd: every file they move is compared byte
// for byte, the progress lines carry the event's arguments, and a failing
// GetFile reaches the script's catch with the control's number and text.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/cli_run.h"
#include "support/registered_control.h"
#include "support/server_folder.h"
#include "support/server_settings.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;

// From the build: with the compiler cache's base folder __FILE__ is relative.
// A script's absolute path replaces it.
const fs::path kExamples = FT_EXAMPLES_DIR;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A folder of the test's own on the servers' disk and a local one; the
// examples' common arguments for a server.
class ScriptExamples : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_USER", "FT_TEST_PASSWORD", "FT_TEST_ROOT",
                                "FT_TEST_FTP_PORT");
        server_.emplace(Setting("FT_TEST_ROOT"), "script-examples");
        RegisterControlForChildren();
        const RunResult probe = Run("list.js", "FT_TEST_FTP_PORT", {"/dir:" + server_->name()});
        SKIP_IF_NOT_RUNNING(probe.err.find("10061") != std::string::npos, "vsftpd");
    }

    RunResult Run(const std::string& script, const char* portVariable,
                  std::vector<std::string> more) {
        std::vector<std::string> words{"run",
                                       (kExamples / script).string(),
                                       "/server:" + Setting("FT_TEST_HOST"),
                                       "/port:" + Setting(portVariable),
                                       "/user:" + Setting("FT_TEST_USER"),
                                       "/password:" + Setting("FT_TEST_PASSWORD")};
        words.insert(words.end(), more.begin(), more.end());
        return RunCli(words);
    }

    std::string Remote(const std::string& name) const { return server_->Remote(name); }

    std::optional<ServerFolder> server_;
    ScratchFolder local_{"script-examples"};
    ScopedEnv home_{"HOME", local_.path().string()};
};

TEST_F(ScriptExamples, UploadAndDownloadAreByteExactAndProgressCarriesTheEventsArguments) {
    const std::string bytes = NoiseBytes(700000, 1);
    std::ofstream(local_ / "up.bin", std::ios::binary) << bytes;
    const RunResult up =
        ExpectOk(Run("upload.js", "FT_TEST_FTP_PORT",
                     {"/local:" + (local_ / "up.bin").string(), "/remote:" + Remote("a.bin")}));
    EXPECT_EQ(up.out, "uploaded 700000 bytes\n");
    ASSERT_TRUE(ReadFile(*server_ / "a.bin") == bytes);

    const RunResult down =
        ExpectOk(Run("download.js", "FT_TEST_FTP_PORT",
                     {"/remote:" + Remote("a.bin"), "/local:" + (local_ / "down.bin").string()}));
    EXPECT_TRUE(ReadFile(local_ / "down.bin") == bytes);
    // "progress NAME COPIED/SIZE PERCENT%": the name, the whole size, a count
    // that only grows and ends at the size with 100%.
    const std::vector<std::string> lines = Lines(down.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.back(), "downloaded 700000 bytes");
    long previous = -1;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        std::istringstream words(lines[i]);
        std::string word, name;
        long copied = 0, size = 0, percent = 0;
        char slash = 0, sign = 0;
        words >> word >> name >> copied >> slash >> size >> percent >> sign;
        ASSERT_TRUE(words && word == "progress" && slash == '/' && sign == '%') << lines[i];
        EXPECT_EQ(name, Remote("a.bin"));
        EXPECT_EQ(size, 700000);
        EXPECT_GE(copied, previous);
        EXPECT_EQ(percent, copied * 100 / size);
        previous = copied;
    }
    EXPECT_EQ(lines[lines.size() - 2], "progress " + Remote("a.bin") + " 700000/700000 100%");
}

TEST_F(ScriptExamples, ListShowsEntriesThroughTheEntryProperties) {
    server_->Put("one.txt", "12345");
    server_->MakeFolder("inner");
    const RunResult run = ExpectOk(Run("list.js", "FT_TEST_FTP_PORT", {"/dir:" + server_->name()}));
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 2u) << run.out;
    EXPECT_TRUE(lines[0].starts_with("d ") && lines[0].ends_with(" inner")) << lines[0];
    EXPECT_EQ(lines[1], "- 5 one.txt");
}

TEST_F(ScriptExamples, MirrorCopiesTheFilesMatchingTheMaskBothWays) {
    const std::string a = NoiseBytes(5000, 2), b = NoiseBytes(100, 3);
    server_->Put("a.txt", a);
    server_->Put("b.txt", b);
    server_->Put("c.bin", "not matched");
    fs::create_directories(local_ / "down");
    const RunResult down = ExpectOk(
        Run("mirror.js", "FT_TEST_FTP_PORT",
            {"/remote:" + server_->name(), "/local:" + (local_ / "down").string(), "/mask:*.txt"}));
    EXPECT_EQ(Lines(down.out).back(), "2 files");
    EXPECT_TRUE(ReadFile(local_ / "down" / "a.txt") == a);
    EXPECT_TRUE(ReadFile(local_ / "down" / "b.txt") == b);
    EXPECT_FALSE(fs::exists(local_ / "down" / "c.bin"));

    server_->MakeFolder("up");
    const RunResult up = ExpectOk(Run(
        "mirror.js", "FT_TEST_FTP_PORT",
        {"/remote:" + Remote("up"), "/local:" + (local_ / "down").string(), "/mask:a*", "/up"}));
    EXPECT_TRUE(ReadFile(*server_ / "up" / "a.txt") == a);
    EXPECT_FALSE(fs::exists(*server_ / "up" / "b.txt"));
}

TEST_F(ScriptExamples, FailingGetFileIsCaughtWithTheControlsNumberAndText) {
    // The example's own report, and a script that compares the Error with the
    // control's LastError and LastErrorString.
    const RunResult example =
        Run("download.js", "FT_TEST_FTP_PORT",
            {"/remote:" + Remote("missing.bin"), "/local:" + (local_ / "m.bin").string()});
    EXPECT_EQ(example.exitCode, 1);
    EXPECT_TRUE(example.err.starts_with("download failed: error 10013: ")) << example.err;

    std::ofstream(local_ / "catch.js")
        << "var a = WScript.Arguments.Named;\n"
           "var f = new ActiveXObject('Tollane.FileTransfer');\n"
           "f.ServerName = a('server'); f.ServerPort = Number(a('port'));\n"
           "f.UserName = a('user'); f.Password = a('password');\n"
           "f.Connect(); f.ThrowError = true;\n"
           "try { f.GetFile(a('local'), a('remote')); WScript.Echo('no error'); }\n"
           "catch (e) {\n"
           "  WScript.Echo(e.number == (0x800A0000 | f.LastError), e.number < 0,\n"
           "               e.description == f.LastErrorString, e.message == e.description,\n"
           "               e instanceof Error);\n"
           "}\n";
    const RunResult caught = ExpectOk(
        Run((local_ / "catch.js").string(), "FT_TEST_FTP_PORT",
            {"/remote:" + Remote("missing.bin"), "/local:" + (local_ / "m.bin").string()}));
    EXPECT_EQ(caught.out, "true true true true true\n");
}

TEST_F(ScriptExamples, FtpsTellsTheCertificatesStatusAndStopsOnAnUntrustedOne) {
    REQUIRE_SERVER_SETTINGS("FT_TEST_FTPS_PORT", "FT_TEST_CA_FILE");
    const std::string bytes = NoiseBytes(30000, 4);
    server_->Put("tls.bin", bytes);
    const std::vector<std::string> download{"/remote:" + Remote("tls.bin"),
                                            "/local:" + (local_ / "tls.bin").string()};
    const RunResult untrusted = Run("ftps.js", "FT_TEST_FTPS_PORT", download);
    EXPECT_EQ(untrusted.exitCode, 3) << untrusted.err;
    EXPECT_NE(untrusted.out.find("certificate status 5 (untrusted)"), std::string::npos);
    EXPECT_FALSE(fs::exists(local_ / "tls.bin"));

    ScopedEnv trust("SSL_CERT_FILE", Setting("FT_TEST_CA_FILE"));
    const RunResult trusted = ExpectOk(Run("ftps.js", "FT_TEST_FTPS_PORT", download));
    EXPECT_NE(trusted.out.find("certificate status 1 (valid)\nsubject CN=localhost\n"),
              std::string::npos)
        << trusted.out;
    EXPECT_TRUE(ReadFile(local_ / "tls.bin") == bytes);
}

TEST_F(ScriptExamples, SftpChecksTheHostKeyAndMovesFilesBothWays) {
    REQUIRE_SERVER_SETTINGS("FT_TEST_SFTP_PORT", "FT_TEST_SSH_KNOWN_HOSTS");
    const std::string bytes = NoiseBytes(90000, 5);
    std::ofstream(local_ / "s.bin", std::ios::binary) << bytes;
    const std::string knownHosts = "/knownhosts:" + Setting("FT_TEST_SSH_KNOWN_HOSTS");
    const RunResult up = ExpectOk(Run("sftp.js", "FT_TEST_SFTP_PORT",
                                      {knownHosts, "/put", "/local:" + (local_ / "s.bin").string(),
                                       "/remote:" + Remote("s.bin")}));
    EXPECT_NE(up.out.find("(status 1)\nuploaded 90000 bytes\n"), std::string::npos) << up.out;
    EXPECT_TRUE(ReadFile(*server_ / "s.bin") == bytes);

    const RunResult down = ExpectOk(Run("sftp.js", "FT_TEST_SFTP_PORT",
                                        {knownHosts, "/get", "/remote:" + Remote("s.bin"),
                                         "/local:" + (local_ / "back.bin").string()}));
    EXPECT_TRUE(ReadFile(local_ / "back.bin") == bytes);

    // A known_hosts file without the server's key: refused before the login.
    std::ofstream(local_ / "empty_hosts") << "";
    const RunResult refused =
        Run("sftp.js", "FT_TEST_SFTP_PORT",
            {"/knownhosts:" + (local_ / "empty_hosts").string(), "/get",
             "/remote:" + Remote("s.bin"), "/local:" + (local_ / "no.bin").string()});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.starts_with("sftp failed: error ")) << refused.err;
}

}  // namespace
