// The SFTP client and the FTP engine's secure-shell sessions against the
// OpenSSH server of scripts/servers.sh (internal-sftp):
// login and home, listing, file information, file management, large byte-exact
// transfers with restart, a stalled download, a cancelled stream read and a
// refused password. (A cancelled download is sftp_transfer_test.cpp's.)
// Without the server's settings the tests skip, unless CI=true.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ftp/directory.h"
#include "ftp/fileops.h"
#include "ftp/ftp.h"
#include "ftp/listing.h"
#include "resources/errors.h"
#include "ssh/sftp.h"
#include "support/server_settings.h"
#include "support/stalling_relay.h"
#include "support/test_files.h"
#include "support/test_window.h"
#include "tls/tls.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kLargeFile = 8u << 20;  // the sanitizers make the ciphers slow
#else
constexpr std::size_t kLargeFile = 64u << 20;
#endif

class SftpServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_SFTP_PORT", "FT_TEST_USER",
                                "FT_TEST_ROOT");
        host_ = Setting("FT_TEST_HOST");
        port_ = Setting("FT_TEST_SFTP_PORT");
        user_ = Setting("FT_TEST_USER");
        password_ = Setting("FT_TEST_PASSWORD");
        root_ = Setting("FT_TEST_ROOT");
        remoteDir_ = root_ + "/" + UniqueTestName("sftp");
    }
    void TearDown() override {
        if (session_) {
            Cleanup(session_);
            SftpDisconnect(session_);
        }
    }

    SftpSession* Connect(const std::string& password, DWORD* error, int timeout = 10) {
        return SftpConnect(host_.c_str(), std::stoi(port_), user_.c_str(), password.c_str(),
                           timeout, 0, 0, error);
    }
    // A session with a fresh working directory of its own as current directory.
    void Open() {
        DWORD error = 0;
        session_ = Connect(password_, &error);
        ASSERT_NE(session_, nullptr) << std::hex << error;
        ASSERT_EQ(SftpMakeDirectory(session_, remoteDir_.c_str()), 1);
        ASSERT_EQ(SftpChangeDirectory(session_, remoteDir_.c_str()), 1);
    }
    // Removes the working directory's files and the directory.
    void Cleanup(SftpSession* session) {
        if (!SftpReadDirectory(session, remoteDir_.c_str())) return;
        std::vector<std::string> names;
        char line[1024];
        while (SftpGetNextListingLine(session, line)) {
            const std::string text = line;
            names.push_back(text.substr(text.rfind(' ') + 1));
        }
        for (const std::string& name : names) {
            if (name != "." && name != "..")
                SftpDeleteFile(session, (remoteDir_ + "/" + name).c_str());
        }
        SftpRemoveDirectory(session, remoteDir_.c_str());
    }
    std::string Local(const char* name) const { return (localDir_ / name).string(); }

    std::string host_, port_, user_, password_, root_, remoteDir_;
    ScratchFolder localDir_{"sftp-local"};
    SftpSession* session_ = nullptr;
};

TEST_F(SftpServerTest, LoginGivesHomeListingAndFileInformation) {
    DWORD error = 0;
    session_ = Connect(password_, &error);
    ASSERT_NE(session_, nullptr) << std::hex << error;
    EXPECT_STREQ(SftpGetCurrentDirectory(session_), root_.c_str());
    SftpSecurityInfo info;
    info.size = kSftpSecurityInfoSize;
    ASSERT_EQ(SftpGetSecurityInfo(session_, &info), 1);
    EXPECT_EQ(info.protocol, 32u);
    // Whatever was negotiated, the name table knows it (4096 is "other").
    EXPECT_NE(info.cipher, 4096u);
    EXPECT_NE(info.hash, 4096u);
    EXPECT_NE(info.keyExchange, 4096u);
    ASSERT_NE(info.fingerprint, nullptr);
    EXPECT_EQ(std::string(info.fingerprint).size(), 47u) << "md5 digest, colon-separated";

    ASSERT_EQ(SftpReadDirectory(session_, root_.c_str()), 1);
    bool found = false;
    char line[1024];
    while (SftpGetNextListingLine(session_, line)) {
        if (std::string(line).ends_with(" hello.txt")) {
            found = true;
            EXPECT_NE(std::string(line).find(" 14 01-02-2020 "), std::string::npos) << line;
        }
    }
    EXPECT_TRUE(found);
    std::uint64_t size = 0;
    ASSERT_EQ(SftpGetFileSize(session_, "hello.txt", &size), 1);
    EXPECT_EQ(size, 14u);
    SftpFileInfo status;
    ASSERT_EQ(SftpGetFileStatus(session_, "sub", &status), 1);
    EXPECT_TRUE(status.directory);
    EXPECT_EQ(status.name, root_ + "/sub");
    EXPECT_EQ(SftpGetFileSize(session_, "no-such-file", &size), 0);
    EXPECT_EQ(SftpGetLastError(session_), MakeErrorCode(fileErrorFileNotFound));
    EXPECT_EQ(SftpGetLastStatus(session_), -1);
}

TEST_F(SftpServerTest, ManagesFilesAndDirectories) {
    Open();
    const char text[] = "sftp says hello";
    ASSERT_EQ(SftpPutMemory(session_, "a.txt", text, sizeof text - 1), 1);
    ASSERT_EQ(SftpRenameFile(session_, "a.txt", "b.txt"), 1);
    HGLOBAL memory = nullptr;
    std::uint64_t length = 0;
    ASSERT_EQ(SftpGetFileToMemory(session_, "b.txt", &memory, &length, 0), 1);
    EXPECT_EQ(std::string(static_cast<char*>(GlobalLock(memory)), length), text);
    GlobalUnlock(memory);
    GlobalFree(memory);
    ASSERT_EQ(SftpSetFilePermissions(session_, "b.txt", 0600), 1);
    DWORD permissions = 0;
    ASSERT_EQ(SftpGetFilePermissions(session_, "b.txt", &permissions), 1);
    EXPECT_EQ(permissions, 0600u);
    ASSERT_EQ(SftpMakeDirectory(session_, "d"), 1);
    EXPECT_EQ(SftpMakeDirectory(session_, "d"), 0);
    EXPECT_EQ(SftpGetResultCode(session_), 500);
    ASSERT_EQ(SftpRemoveDirectory(session_, "d"), 1);
    ASSERT_EQ(SftpDeleteFile(session_, "b.txt"), 1);
    EXPECT_EQ(SftpGetResultCode(session_), 200);
    EXPECT_EQ(SftpDeleteFile(session_, "b.txt"), 0);
    EXPECT_EQ(SftpGetResultCode(session_), 550);
}

TEST_F(SftpServerTest, LargeTransfersAreByteExactAndRestart) {
    Open();
    const std::string source = Local("source.bin");
    WriteFile(source, NoiseBytes(kLargeFile, 42));
    ASSERT_EQ(SftpPutFile(session_, source.c_str(), "big.bin", 0), 1)
        << std::hex << SftpGetLastError(session_);
    ASSERT_EQ(SftpGetFile(session_, Local("back.bin").c_str(), "big.bin", 0), 1)
        << std::hex << SftpGetLastError(session_);
    EXPECT_EQ(Sha256Hex(ReadFile(Local("back.bin"))), Sha256Hex(ReadFile(source)));
    std::filesystem::resize_file(Local("back.bin"), kLargeFile / 3);
    ASSERT_EQ(SftpGetFile(session_, Local("back.bin").c_str(), "big.bin", kLargeFile / 3), 1);
    EXPECT_EQ(Sha256Hex(ReadFile(Local("back.bin"))), Sha256Hex(ReadFile(source)));

    ASSERT_EQ(SftpPutMemory(session_, "big.bin", nullptr, 0), 1);  // empty again
    ASSERT_EQ(SftpPutFile(session_, source.c_str(), "big.bin", kLargeFile), 1)
        << "a restart beyond the remote size starts at it";
    ASSERT_EQ(SftpGetFile(session_, Local("again.bin").c_str(), "big.bin", 0), 1);
    EXPECT_EQ(Sha256Hex(ReadFile(Local("again.bin"))), Sha256Hex(ReadFile(source)));
}

// ---- the FTP engine's secure-shell sessions ---------------------------------------------

class SftpEngineTest : public SftpServerTest {
  protected:
    void SetUp() override {
        SftpServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_EQ(FtpInitialize(nullptr), 1);
        initialized_ = true;
    }
    void TearDown() override {
        if (client_ != INVALID_CLIENT) FtpDisconnect(client_);
        if (initialized_) FtpUninitialize();
        SftpServerTest::TearDown();
    }
    FtpClient client_ = INVALID_CLIENT;
    bool initialized_ = false;
};

TEST_F(SftpEngineTest, EngineOperationsGoThroughTheSftpClient) {
    // A refused login is the client's error.
    EXPECT_EQ(FtpConnect(host_.c_str(), std::stoi(port_), user_.c_str(), "nope", 10,
                         FTP_OPTION_SECURE_SHELL, nullptr),
              INVALID_CLIENT);
    EXPECT_EQ(FtpGetLastError(), MakeErrorCode(fileErrorAuthenticationFailed));
    const std::string url = "sftp://" + host_ + ":" + port_;
    client_ = FtpConnect(url.c_str(), 0, user_.c_str(), password_.c_str(), 10, 0, nullptr);
    ASSERT_NE(client_, INVALID_CLIENT) << std::hex << FtpGetLastError();
    char directory[512];
    ASSERT_EQ(FtpGetCurrentDirectory(client_, directory, sizeof directory), 0);
    EXPECT_EQ(std::string(directory), root_);
    SecurityInfo security{};
    security.size = TLS_SECURITY_INFO_SIZE;
    ASSERT_EQ(FtpGetSecurityInfo(client_, &security), 1);
    // The local end of the SSH connection.
    NetAddress local{};
    ASSERT_EQ(FtpGetLocalAddress(client_, NET_FAMILY_IPV4, &local), 0);
    EXPECT_EQ(local.family, NET_FAMILY_IPV4);
    EXPECT_EQ(local.address[0], 127);
    EXPECT_EQ(security.protocol, 32u);
    ASSERT_NE(security.extra, nullptr) << "the host key's fingerprint";
    EXPECT_EQ(std::string(security.extra).size(), 47u);
    ASSERT_GE(FtpMakeDirectory(client_, remoteDir_.c_str()), 0);
    ASSERT_EQ(FtpChangeDirectory(client_, remoteDir_.c_str()), 0);

    WriteFile(Local("f.bin"), NoiseBytes(300000, 3));
    ASSERT_EQ(FtpPutFile(client_, Local("f.bin").c_str(), "f.bin", FTP_TRANSFER_VERIFY, 0), 0)
        << std::hex << FtpGetLastError();
    ASSERT_EQ(FtpGetFile(client_, Local("g.bin").c_str(), "f.bin", 0, 0), 0);
    EXPECT_EQ(Sha256Hex(ReadFile(Local("g.bin"))), Sha256Hex(ReadFile(Local("f.bin"))));
    FtpTransferStatus status{};
    ASSERT_EQ(FtpGetTransferStatus(client_, &status), 0);
    EXPECT_EQ(status.bytesCopied, 300000u);
    EXPECT_EQ(FtpGetResultCode(client_), 200);

    DWORD size = 0;
    EXPECT_GE(FtpGetFileSize(client_, "f.bin", &size), 0);
    EXPECT_EQ(size, 300000u);
    ASSERT_GE(FtpOpenDirectory(client_, nullptr), 0);
    // The server lists "." and ".." too; they are passed on as they come.
    FtpDirectoryEntry entry{};
    std::vector<std::string> names;
    ASSERT_EQ(FtpGetFirstEntry(client_, &entry), 1) << std::hex << FtpGetLastError();
    do {
        names.push_back(entry.name);
        if (names.back() != "f.bin") continue;
        EXPECT_EQ(entry.size, 300000u);
        EXPECT_EQ(entry.permissions & 0600u, 0600u);
        EXPECT_EQ(entry.directory, 0);
    } while (FtpGetNextEntry(client_, &entry));
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "f.bin"}));
    EXPECT_EQ(FtpGetLastError(), MakeErrorCode(fileErrorEndOfDirectory));
    EXPECT_EQ(FtpCloseDirectory(client_), 0);

    ASSERT_EQ(FtpBeginTransfer(client_, "f.bin", 0, 299990), 0);
    char tail[64];
    EXPECT_EQ(FtpRead(client_, tail, sizeof tail), 10);
    EXPECT_EQ(FtpRead(client_, tail, sizeof tail), 0);
    EXPECT_GE(FtpEndTransfer(client_), 0);

    ASSERT_EQ(FtpRenameFile(client_, "f.bin", "h.bin"), 0);
    ASSERT_EQ(FtpDeleteFile(client_, "h.bin"), 0);
    EXPECT_EQ(FtpDeleteFile(client_, "h.bin"), -1);
    EXPECT_EQ(FtpGetLastError(), MakeErrorCode(fileErrorFileNotFound));
    EXPECT_EQ(FtpGetResultCode(client_), 550);
}

// A server that stops sending in the middle of a download: 10060 and the
// engine's time-out event, once. Cancel ends a stream read with 10004 and
// the cancel event.
TEST_F(SftpEngineTest, StalledDownloadsTimeOutAndStreamReadsCancel) {
    Open();
    WriteFile(Local("big.bin"), NoiseBytes(4u << 20, 5));
    ASSERT_EQ(SftpPutFile(session_, Local("big.bin").c_str(), "big.bin", 0, false), 1);
    const std::string remote = remoteDir_ + "/big.bin";
    int timeouts = 0, cancels = 0;
    testsupport::TestWindow window([&](UINT message, WPARAM, LPARAM lParam) -> LRESULT {
        if (message != FTP_NOTIFY_MESSAGE) return 0;
        const int error = static_cast<int>(lParam >> 16);
        if ((lParam & 0xFFFF) == FTP_EVENT_TIMEOUT && error == fileErrorOperationTimeout) {
            ++timeouts;
        }
        if ((lParam & 0xFFFF) == FTP_EVENT_CANCEL && error == fileErrorOperationCanceled) {
            ++cancels;
        }
        return 0;
    });
    const DWORD events = FTP_EVENT_TIMEOUT | FTP_EVENT_CANCEL;
    {
        testsupport::StallingRelay relay(std::stoi(port_), 1u << 20);
        client_ = FtpConnect(host_.c_str(), relay.port(), user_.c_str(), password_.c_str(), 2,
                             FTP_OPTION_SECURE_SHELL, nullptr);
        ASSERT_NE(client_, INVALID_CLIENT) << std::hex << FtpGetLastError();
        FtpRegisterNotify(client_, window.hwnd(), FTP_NOTIFY_MESSAGE, events);
        EXPECT_EQ(FtpGetFile(client_, Local("stalled.bin").c_str(), remote.c_str(), 0, 0), -1);
        EXPECT_EQ(FtpGetLastError(), MakeErrorCode(fileErrorOperationTimeout));
        EXPECT_TRUE(relay.stalled());
        EXPECT_EQ(timeouts, 1);
        FtpDisconnect(std::exchange(client_, INVALID_CLIENT));
    }
    client_ = FtpConnect(host_.c_str(), std::stoi(port_), user_.c_str(), password_.c_str(), 10,
                         FTP_OPTION_SECURE_SHELL, nullptr);
    ASSERT_NE(client_, INVALID_CLIENT) << std::hex << FtpGetLastError();
    FtpRegisterNotify(client_, window.hwnd(), FTP_NOTIFY_MESSAGE, events);
    ASSERT_EQ(FtpBeginTransfer(client_, remote.c_str(), 0, 0), 0);
    char block[4096];
    EXPECT_EQ(FtpRead(client_, block, sizeof block), 4096);
    EXPECT_EQ(FtpCancel(client_), 0);
    int result = 0;
    for (int i = 0; i < 2000 && (result = FtpRead(client_, block, sizeof block)) > 0; ++i) {
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(FtpGetLastError(), MakeErrorCode(fileErrorOperationCanceled));
    EXPECT_EQ(cancels, 1);
    FtpEndTransfer(client_);
}

}  // namespace
