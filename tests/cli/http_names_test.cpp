// http:// URLs on the command line against scripted peers: without a local
// file name the response's Content-Disposition names the file (made safe), a
// server's name never replaces an existing file, a failed download leaves
// nothing but a beginning to resume (--append is refused with the usage
// errors of command_line_test.cpp).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>

#include "support/cli_run.h"
#include "support/scripted_peer.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;

using Files = std::map<std::string, std::string>;

// Every file of the folder with its bytes (no part files may be left).
Files FilesIn(const fs::path& folder) {
    Files files;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        files[entry.path().filename().string()] = ReadFile(entry.path().string());
    }
    return files;
}

class HttpNameTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::path(testing::TempDir()) /
                  ("cli-names-" + std::to_string(getpid()) + "-" +
                   testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    fs::path folder_;
};

std::string Response(const std::string& status, const std::string& disposition,
                     const std::string& body, std::size_t length) {
    std::string head = "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(length) +
                       "\r\nConnection: close\r\n";
    if (!disposition.empty()) head += "Content-Disposition: " + disposition + "\r\n";
    return head + "\r\n" + body;
}

// Each row: the response, the file that exists before ("old" in it), the
// file that then holds the body, and how standard error begins ("" for
// success). A cut-off row announces more than it sends; a row without LOCAL
// downloads into the current folder.
TEST_F(HttpNameTest, TheResponseNamesTheFileSafelyAndNeverOverAnotherOne) {
    const std::string body = Pattern(3000);
    struct Case {
        const char* label;
        const char* status;
        const char* disposition;
        const char* existing;
        const char* received;
        const char* error = "";
        bool cutOff = false;
        const char* path = "/dl/file.bin";
        bool withoutLocal = false;
    };
    const Case cases[] = {
        {"extended name wins", "200 OK",
         "attachment; filename=plain.txt; filename*=UTF-8''na%C3%AFve%20file.txt", "",
         "na\xC3\xAFve file.txt"},
        {"path parts dropped", "200 OK", "attachment; filename=\"../../escape.txt\"", "",
         "escape.txt"},
        {"leading dots dropped", "200 OK", "attachment; filename=.profile", "", "profile"},
        {"unusable name: the URL's", "200 OK", "attachment; filename=\"..\"", "", "file.bin"},
        {"the URL's name replaces", "200 OK", "", "file.bin", "file.bin"},
        {"a server's name does not", "200 OK", "attachment; filename=taken.txt", "taken.txt", "",
         "filetransfer: error 10018: The specified file already exists: "},
        {"an error answer writes nothing", "404 Not Found", "attachment; filename=gone.txt", "", "",
         "filetransfer: error 12275: "},
        {"a cut-off body stays to resume", "200 OK", "attachment; filename=part.bin", "",
         "part.bin", "filetransfer: error 12256: ", true},
        {"without LOCAL the current folder", "200 OK", "attachment; filename*=UTF-8''export-7.csv",
         "", "export-7.csv", "", false, "/export?id=7", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        Files expected;
        if (*c.existing != '\0') {
            WriteFile((folder_ / c.existing).string(), "old");
            expected[c.existing] = "old";
        }
        if (*c.received != '\0') expected[c.received] = body;
        testsupport::PeerScript script;
        script.Expect(std::string("GET ") + c.path + " HTTP/1.1")
            .Send(Response(c.status, c.disposition, body, body.size() + (c.cutOff ? 500 : 0)))
            .Close();
        testsupport::ScriptedPeer peer(script);
        const std::string url = "http://127.0.0.1:" + std::to_string(peer.port()) + c.path;
        const fs::path previous = fs::current_path();
        if (c.withoutLocal) fs::current_path(folder_);
        const RunResult run =
            c.withoutLocal ? RunCli({"--set", "Timeout=5", "get", "-q", url})
                           : RunCli({"--set", "Timeout=5", "get", "-q", url, folder_.string()});
        fs::current_path(previous);
        // A missing resource has its own exit status.
        const bool missing = std::string_view(c.error).find("12275") != std::string_view::npos;
        EXPECT_EQ(run.exitCode, *c.error == '\0' ? 0 : missing ? 78 : 1) << run.err;
        EXPECT_EQ(peer.Finish(), "");
        EXPECT_TRUE(FilesIn(folder_) == expected) << FilesIn(folder_).size() << " files";
        if (*c.error == '\0') {
            EXPECT_EQ(run.err, "");
        } else {
            EXPECT_EQ(run.err.rfind(c.error, 0), 0u) << run.err;
        }
    }
}

// The command line speaks HTTP/1.1 with Host and User-Agent, and a failed
// download leaves no file behind.
TEST(HttpScripted, RequestsAreHttp11AndAFailedGetLeavesNoFile) {
    using testsupport::PeerScript;
    using testsupport::ScriptedPeer;
    const std::string local = testing::TempDir() + "cli-scripted-" + std::to_string(getpid());
    std::remove(local.c_str());
    PeerScript ok;
    ok.Expect("GET /file.bin HTTP/1.1")
        .Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n")
        .ReadToEnd();
    PeerScript moved;
    moved.Expect("GET /page HTTP/1.1")
        .Send("HTTP/1.1 200 OK\r\nContent-Length: 5, 6\r\n\r\nhello")
        .ReadToEnd();
    ScriptedPeer peer({ok, moved});
    const std::string base = "http://127.0.0.1:" + std::to_string(peer.port());
    RunResult run = RunCli({"--set", "Timeout=5", "get", "-q", base + "/file.bin", local});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadFile(local), "hello");
    std::remove(local.c_str());
    run = RunCli({"--set", "Timeout=5", "get", "-q", base + "/page", local});
    EXPECT_EQ(run.exitCode, 1);
    FILE* left = std::fopen(local.c_str(), "rb");
    EXPECT_EQ(left, nullptr);
    if (left) std::fclose(left);
    EXPECT_EQ(peer.Finish(), "");
    const std::string transcript = peer.Transcript();
    EXPECT_NE(transcript.find("|Host: 127.0.0.1:"), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("|User-Agent: Tollane-FileTransfer/"), std::string::npos)
        << transcript;
}

}  // namespace
