// Downloads over an existing local file against scripted peers: the old file
// stays whole until the new one is complete, and a data connection that ends
// short of the size the server announced is an error even after a 226.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "ftp/ftp.h"
#include "resources/errors.h"
#include "support/test_files.h"
#include "tests/ftp/data_peer.h"
#include "tests/ftp/ftp_test_support.h"

namespace {

using namespace ftptest;
using testsupport::DataPeer;
using testsupport::DataPlan;
namespace fs = std::filesystem;

class FtpDownloadIntegrityTest : public EngineTest {
  protected:
    ScratchFolder dir_{"ft-integrity"};
};

TEST_F(FtpDownloadIntegrityTest, ExistingFileIsReplacedOnlyByACompleteDownload) {
    const std::string payload = Pattern(40000, 7);
    const std::string old = "the file as it was before\n";
    struct Case {
        const char* name;
        const char* sizeReply;     // to SIZE
        std::string openingReply;  // to RETR
        std::size_t sent;          // bytes the data connection carries
        bool drop;                 // reset instead of an orderly end
        const char* finalReply;
        int error;  // 0: the download succeeds
    } cases[] = {
        {"whole", "213 40000\r\n", "150 Opening\r\n", payload.size(), false, "226 Done\r\n", 0},
        {"short after SIZE", "213 40000\r\n", "150 Opening\r\n", 1000, false, "226 Done\r\n",
         fileErrorTransferIncomplete},
        {"short after the opening reply's size", "550 SIZE not allowed\r\n",
         "150 Opening BINARY mode data connection for f.bin (40000 bytes).\r\n", 1000, false,
         "226 Done\r\n", fileErrorTransferIncomplete},
        {"no size known", "550 SIZE not allowed\r\n", "150 Opening\r\n", 1000, false,
         "226 Done\r\n", 0},
        {"reset mid-way", "213 40000\r\n", "150 Opening\r\n", 20000, true,
         "426 Connection closed; transfer aborted.\r\n", fileErrorConnectionReset},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path local = dir_ / "f.bin";
        WriteFile(local, old, 0640);
        DataPeer data;
        DataPlan plan{.payload = payload.substr(0, c.drop ? payload.size() : c.sent)};
        if (c.drop) {
            plan.stallAfter = c.sent;
            plan.stallMs = 100;
            plan.dropAfterStall = true;
        }
        data.Serve(plan);
        PeerScript script;
        script.Reply("SIZE f.bin", c.sizeReply)
            .Reply("PASV", data.PasvReply())
            .Reply("RETR f.bin", c.openingReply)
            .SendAfter(200, c.finalReply);
        // After a failed transfer the client checks the control connection.
        if (c.drop) script.Reply("NOOP", "200 ok\r\n");
        PeerSession session(
            script, {kUnixSyst, Features({"SIZE"}), FTP_OPTION_NOAUTH | FTP_OPTION_PASSIVE});
        ASSERT_NE(session.client(), INVALID_CLIENT);
        const int result = FtpGetFile(session.client(), local.c_str(), "f.bin", 0, 0);
        const std::string expected = c.error == 0 ? payload.substr(0, c.sent) : old;
        if (c.error == 0) {
            EXPECT_EQ(result, 0);
        } else {
            EXPECT_TRUE(FailsWith(c.error, result));
        }
        EXPECT_EQ(ReadFile(local), expected);
        struct stat info {};
        ASSERT_EQ(::stat(local.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0640u);
        // Nothing is left beside it.
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 1);
        session.Finish();
    }
}

}  // namespace
