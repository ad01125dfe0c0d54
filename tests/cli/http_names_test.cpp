// get over HTTP without a local file name: the response's Content-Disposition
// names the file (made safe), a server's name never replaces an existing
// file, and a failed download leaves nothing but a beginning to resume.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <system_error>

#include "cli_test_support.h"
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

TEST_F(HttpNameTest, TheResponseNamesTheFileSafelyAndNeverOverAnotherOne) {
    const std::string body = Pattern(3000);
    struct Case {
        const char* label;
        std::string status;
        std::string disposition;
        std::size_t announced;  // a length beyond the body: the connection ends early
        Files before;
        int exitCode;
        Files after;
        const char* error = "";  // how standard error begins
    };
    const Case cases[] = {
        {"plain name",
         "200 OK",
         "attachment; filename=\"report.pdf\"",
         body.size(),
         {},
         0,
         {{"report.pdf", body}}},
        {"extended name wins",
         "200 OK",
         "attachment; filename=plain.txt; filename*=UTF-8''na%C3%AFve%20file.txt",
         body.size(),
         {},
         0,
         {{"na\xC3\xAFve file.txt", body}}},
        {"path parts dropped",
         "200 OK",
         "attachment; filename=\"../../escape.txt\"",
         body.size(),
         {},
         0,
         {{"escape.txt", body}}},
        {"leading dots dropped",
         "200 OK",
         "attachment; filename=.profile",
         body.size(),
         {},
         0,
         {{"profile", body}}},
        {"no name: the URL's", "200 OK", "", body.size(), {}, 0, {{"file.bin", body}}},
        {"unusable name: the URL's",
         "200 OK",
         "attachment; filename=\"..\"",
         body.size(),
         {},
         0,
         {{"file.bin", body}}},
        {"the URL's name replaces",
         "200 OK",
         "",
         body.size(),
         {{"file.bin", "old"}},
         0,
         {{"file.bin", body}}},
        {"a server's name does not",
         "200 OK",
         "attachment; filename=taken.txt",
         body.size(),
         {{"taken.txt", "old"}},
         1,
         {{"taken.txt", "old"}},
         "filetransfer: error 10018: The specified file already exists: "},
        {"an error answer writes nothing",
         "404 Not Found",
         "attachment; filename=gone.txt",
         body.size(),
         {},
         1,
         {},
         "filetransfer: error 12275: "},
        {"a cut-off body stays to resume",
         "200 OK",
         "attachment; filename=part.bin",
         body.size() + 500,
         {},
         1,
         {{"part.bin", body}},
         "filetransfer: error 12256: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        for (const auto& [name, bytes] : c.before)
            WriteFile((folder_ / name).string(), bytes);
        testsupport::PeerScript script;
        script.Expect("GET /dl/file.bin HTTP/1.1")
            .Send(Response(c.status, c.disposition, body, c.announced))
            .Close();
        testsupport::ScriptedPeer peer(script);
        const std::string url = "http://127.0.0.1:" + std::to_string(peer.port()) + "/dl/file.bin";
        const RunResult run = RunCli({"--set", "Timeout=5", "get", "-q", url, folder_.string()});
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_EQ(peer.Finish(), "");
        EXPECT_TRUE(FilesIn(folder_) == c.after) << FilesIn(folder_).size() << " files";
        EXPECT_EQ(run.err.rfind(c.error, 0), 0u) << run.err;
        if (c.exitCode == 0) {
            EXPECT_EQ(run.err, "");
        }
    }
}

// Without LOCAL the file goes into the current folder under the server's name.
TEST_F(HttpNameTest, WithoutLocalTheCurrentFolderReceivesIt) {
    testsupport::PeerScript script;
    script.Expect("GET /export?id=7 HTTP/1.1")
        .Send(Response("200 OK", "attachment; filename*=UTF-8''export-7.csv", "a,b\n", 4))
        .Close();
    testsupport::ScriptedPeer peer(script);
    const fs::path previous = fs::current_path();
    fs::current_path(folder_);
    const RunResult run =
        RunCli({"get", "-q", "http://127.0.0.1:" + std::to_string(peer.port()) + "/export?id=7"});
    fs::current_path(previous);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(peer.Finish(), "");
    EXPECT_TRUE(FilesIn(folder_) == (Files{{"export-7.csv", "a,b\n"}}));
}

}  // namespace
