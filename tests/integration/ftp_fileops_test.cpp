// File operations against the real FTP servers that scripts/servers.sh runs on
// loopback. The test user's home is on the local disk (FT_TEST_ROOT), so every
// effect is checked on the files themselves. Without the servers' settings the
// tests skip, unless CI=true.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "ftp/fileops.h"
#include "ftp/ftp.h"
#include "ftp/tables.h"
#include "resources/errors.h"
#include "support/server_folder.h"
#include "support/server_settings.h"

namespace {

namespace fs = std::filesystem;

DWORD Code(int number) {
    return MakeErrorCode(number);
}

constexpr const char* kContent = "Hello, world!\n";
constexpr const char* kSameSizeOther = "Hello, World!\n";

struct Server {
    const char* name;
    const char* portVariable;
    bool offersDigests;  // XCRC, XMD5, MLST and MFMT
};

void PrintTo(const Server& server, std::ostream* out) {
    *out << server.name;
}

time_t UtcSeconds(int year, int month, int day, int hour, int minute, int second) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    return timegm(&fields);
}

std::string Stamp(const SYSTEMTIME& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond);
    return text;
}

class FtpFileOpsTest : public ::testing::TestWithParam<Server> {
  protected:
    void SetUp() override {
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_USER", "FT_TEST_ROOT",
                                GetParam().portVariable);
        work_ = std::make_unique<ServerFolder>(Setting("FT_TEST_ROOT"),
                                               std::string("fileops-") + GetParam().name);
        ASSERT_EQ(FtpInitialize(nullptr), 1);
        initialized_ = true;
        client_ = FtpConnect(
            Setting("FT_TEST_HOST").c_str(), std::stoi(Setting(GetParam().portVariable)),
            Setting("FT_TEST_USER").c_str(), Setting("FT_TEST_PASSWORD").c_str(), 10, 0, nullptr);
        SKIP_IF_NOT_RUNNING(
            client_ == INVALID_CLIENT && FtpGetLastError() == Code(fileErrorConnectionRefused),
            GetParam().name);
        ASSERT_NE(client_, INVALID_CLIENT) << std::hex << FtpGetLastError();
    }
    void TearDown() override {
        if (client_ != INVALID_CLIENT) FtpDisconnect(client_);
        if (initialized_) FtpUninitialize();
    }

    std::string ServerFile(const std::string& name, const std::string& content, mode_t mode = 0644,
                           time_t modified = 0) {
        return work_->Put(name, content, mode, modified);
    }
    std::string Remote(const std::string& name) const { return work_->Remote(name); }
    fs::path OnDisk(const std::string& name) const { return *work_ / name; }
    std::string LocalFile(const std::string& content) {
        const fs::path path = local_ / ("local" + std::to_string(++localFiles_));
        WriteFile(path, content);
        return path.string();
    }
    struct stat Stat(const std::string& name) const {
        struct stat info {};
        EXPECT_EQ(::stat(OnDisk(name).c_str(), &info), 0) << name;
        return info;
    }

    std::unique_ptr<ServerFolder> work_;
    ScratchFolder local_{"fileops-local"};
    int localFiles_ = 0;
    bool initialized_ = false;
    FtpClient client_ = INVALID_CLIENT;
};

TEST_P(FtpFileOpsTest, ReadsSizeTimePermissionsAndStatus) {
    time_t modified = UtcSeconds(2020, 1, 2, 3, 4, 5);
    std::string file = ServerFile("hello.txt", kContent, 0640, modified);
    work_->MakeFolder("folder");
    DWORD features = FtpGetFeatures(client_);
    const DWORD facts =
        ftp::kFeatureMlst | ftp::kFeatureMfmt | ftp::kFeatureXcrc | ftp::kFeatureXmd5;
    if (GetParam().offersDigests) {
        EXPECT_EQ(features & facts, facts);
    }

    int64_t size = 0;
    EXPECT_GT(FtpGetFileSize64(client_, file.c_str(), &size), 0) << std::hex << FtpGetLastError();
    EXPECT_EQ(size, static_cast<int64_t>(Stat("hello.txt").st_size));

    SYSTEMTIME time{};
    EXPECT_EQ(FtpGetFileTime(client_, file.c_str(), &time, FALSE), 213);
    EXPECT_EQ(Stamp(time), "2020-01-02 03:04:05");

    DWORD permissions = 0;
    EXPECT_GT(FtpGetFilePermissions(client_, file.c_str(), &permissions), 0);
    EXPECT_EQ(permissions, Stat("hello.txt").st_mode & 0777);
    EXPECT_EQ(permissions, 0640u);

    FtpDirectoryEntry entry{};
    ASSERT_EQ(FtpGetFileInfo(client_, file.c_str(), &entry), 1) << std::hex << FtpGetLastError();
    EXPECT_EQ(entry.name, file);
    EXPECT_EQ(entry.size, 14u);
    EXPECT_EQ(entry.directory, 0);
    EXPECT_EQ(entry.permissions, 0640u);
    EXPECT_EQ(Stamp(entry.date).substr(0, 10), "2020-01-02");

    std::string folder = Remote("folder");
    ASSERT_EQ(FtpGetFileInfo(client_, folder.c_str(), &entry), 1) << std::hex << FtpGetLastError();
    EXPECT_EQ(entry.directory, 1);

    std::string missing = Remote("missing.txt");
    EXPECT_EQ(FtpGetFileInfo(client_, missing.c_str(), &entry), 0);
    DWORD error = FtpGetLastError();
    EXPECT_TRUE(error == Code(fileErrorFileNotFound) || error == Code(fileErrorAccessDenied))
        << std::hex << error;
    EXPECT_EQ(FtpGetFileTime(client_, missing.c_str(), &time, FALSE), -1);
    EXPECT_EQ(FtpGetLastError(), Code(fileErrorFileNotFound));
    // None of these is a refusal of a command: the mask learned nothing.
    EXPECT_EQ(FtpGetFeatures(client_), features);
}

TEST_P(FtpFileOpsTest, SetsTimeAndPermissions) {
    std::string file = ServerFile("stamp.txt", kContent, 0644);
    SYSTEMTIME time{};
    time.wYear = 2021, time.wMonth = 6, time.wDay = 7;
    time.wHour = 8, time.wMinute = 9, time.wSecond = 10;
    int result = FtpSetFileTime(client_, file.c_str(), &time);
    EXPECT_GE(result, 200) << std::hex << FtpGetLastError();
    EXPECT_LT(result, 300);
    EXPECT_EQ(Stat("stamp.txt").st_mtime, UtcSeconds(2021, 6, 7, 8, 9, 10));

    SYSTEMTIME readBack{};
    EXPECT_EQ(FtpGetFileTime(client_, file.c_str(), &readBack, FALSE), 213);
    EXPECT_EQ(Stamp(readBack), "2021-06-07 08:09:10");

    for (DWORD mode : {0600, 0754}) {
        EXPECT_EQ(FtpSetFilePermissions(client_, file.c_str(), mode), 200)
            << std::hex << FtpGetLastError();
        EXPECT_EQ(Stat("stamp.txt").st_mode & 07777, mode);
    }
    DWORD permissions = 0;
    EXPECT_GT(FtpGetFilePermissions(client_, file.c_str(), &permissions), 0);
    EXPECT_EQ(permissions, 0754u);
}

TEST_P(FtpFileOpsTest, RenamesDeletesAndManagesDirectories) {
    std::string original = ServerFile("before.txt", kContent);
    std::string renamed = Remote("after.txt");
    EXPECT_EQ(FtpRenameFile(client_, original.c_str(), renamed.c_str()), 250)
        << std::hex << FtpGetLastError();
    EXPECT_FALSE(fs::exists(OnDisk("before.txt")));
    EXPECT_EQ(Stat("after.txt").st_size, 14);
    EXPECT_EQ(FtpRenameFile(client_, original.c_str(), renamed.c_str()), -1);
    EXPECT_FALSE(fs::exists(OnDisk("before.txt")));

    EXPECT_EQ(FtpDeleteFile(client_, renamed.c_str()), 250);
    EXPECT_FALSE(fs::exists(OnDisk("after.txt")));
    EXPECT_EQ(FtpDeleteFile(client_, renamed.c_str()), -1);
    EXPECT_EQ(FtpGetLastError(), Code(fileErrorAccessDenied));

    std::string folder = Remote("made");
    EXPECT_EQ(FtpMakeDirectory(client_, folder.c_str()), 257);
    EXPECT_TRUE(fs::is_directory(OnDisk("made")));
    EXPECT_EQ(FtpMakeDirectory(client_, folder.c_str()), -1);
    EXPECT_TRUE(fs::is_directory(OnDisk("made")));
    EXPECT_EQ(FtpRemoveDirectory(client_, folder.c_str()), 250);
    EXPECT_FALSE(fs::exists(OnDisk("made")));
    EXPECT_EQ(FtpRemoveDirectory(client_, folder.c_str()), -1);
}

TEST_P(FtpFileOpsTest, VerifiesByEveryMethodTheServerOffers) {
    std::string remote = ServerFile("verify.txt", kContent);
    std::string same = LocalFile(kContent);
    std::string sameSize = LocalFile(kSameSizeOther);
    std::string longer = LocalFile(std::string(kContent) + "more");

    EXPECT_EQ(FtpVerifyFile(client_, same.c_str(), remote.c_str(), FTP_VERIFY_SIZE), 1)
        << std::hex << FtpGetLastError();
    EXPECT_EQ(FtpVerifyFile(client_, sameSize.c_str(), remote.c_str(), FTP_VERIFY_SIZE), 1);
    EXPECT_EQ(FtpVerifyFile(client_, longer.c_str(), remote.c_str(), FTP_VERIFY_SIZE), 0);
    EXPECT_EQ(FtpGetLastError(), Code(fileErrorFileSizeMismatch));

    if (!GetParam().offersDigests) {
        // The default falls to the size; digests alone cannot run here.
        EXPECT_EQ(FtpVerifyFile(client_, same.c_str(), remote.c_str(), FTP_VERIFY_DEFAULT), 1);
        EXPECT_EQ(FtpVerifyFile(client_, same.c_str(), remote.c_str(), FTP_VERIFY_MD5), 0);
        EXPECT_EQ(FtpGetLastError(), Code(fileErrorOperationNotSupported));
        return;
    }
    for (DWORD method : {FTP_VERIFY_MD5, FTP_VERIFY_CRC32}) {
        SCOPED_TRACE(method);
        EXPECT_EQ(FtpVerifyFile(client_, same.c_str(), remote.c_str(), method), 1)
            << std::hex << FtpGetLastError();
        EXPECT_EQ(FtpVerifyFile(client_, sameSize.c_str(), remote.c_str(), method), 0);
        EXPECT_EQ(FtpGetLastError(), Code(fileErrorFileChecksumMismatch));
    }
    // A changed server file is caught by the default method as well. (The
    // server caches digests by name and time, so the time changes too.)
    ServerFile("verify.txt", kSameSizeOther, 0644, UtcSeconds(2020, 1, 2, 3, 4, 5));
    EXPECT_EQ(FtpVerifyFile(client_, same.c_str(), remote.c_str(), FTP_VERIFY_DEFAULT), 0);
    EXPECT_EQ(FtpGetLastError(), Code(fileErrorFileChecksumMismatch));
    EXPECT_EQ(FtpVerifyFile(client_, sameSize.c_str(), remote.c_str(), FTP_VERIFY_DEFAULT), 1);
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpFileOpsTest,
                         ::testing::Values(Server{"vsftpd", "FT_TEST_FTP_PORT", false},
                                           Server{"proftpd", "FT_TEST_PROFTPD_PORT", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
