// The control's directory and file methods against the loopback vsftpd (UNIX
// listings) and proftpd (MLSD with DirectoryFormat 7, MLST, MFMT, digests).
// Every change is checked on the files under FT_TEST_ROOT.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "control/method_call_support.h"
#include "control/session_test_support.h"
#include "support/server_folder.h"
#include "support/server_settings.h"

namespace {

namespace fs = std::filesystem;

struct Server {
    const char* name;
    const char* portVariable;
    bool facts;  // MLST/MLSD, MFMT, XCRC and XMD5
};

void PrintTo(const Server& server, std::ostream* out) {
    *out << server.name;
}

struct Listed {
    std::string date, owner, group;
    LONG length = 0, perms = 0;
    bool directory = false;
};

class ControlFiles : public SessionTest, public ::testing::WithParamInterface<Server> {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        REQUIRE_SERVER_SETTINGS("FT_TEST_HOST", "FT_TEST_USER", "FT_TEST_ROOT",
                                GetParam().portVariable);
        work_ = std::make_unique<ServerFolder>(Setting("FT_TEST_ROOT"),
                                               std::string("ctl-files-") + GetParam().name);
        folder_ = work_->name();
        owner_ = work_->owner();
        group_ = work_->group();
        VARIANT port = I4(std::stoi(Setting(GetParam().portVariable)));
        const LONG error = Run(&CFileTransfer::Connect, TextVariant(Setting("FT_TEST_HOST")), &port,
                               TextVariant(Setting("FT_TEST_USER")),
                               TextVariant(Setting("FT_TEST_PASSWORD")), nullptr, nullptr);
        SKIP_IF_NOT_RUNNING(error == fileErrorConnectionRefused, GetParam().name);
        ASSERT_EQ(error, 0) << Text(&CFileTransfer::get_LastErrorString);
    }
    void TearDown() override {
        if (control_) control_->Disconnect(nullptr);
        SessionTest::TearDown();
    }

    // Dated 2020-01-02 03:04:05 UTC.
    void Write(const std::string& name, const std::string& content, mode_t mode = 0644) {
        work_->Put(name, content, mode, 1577934245);
    }
    std::string Remote(const std::string& name) const { return work_->Remote(name); }

    template <class... Params, class... Args>
    LONG Run(HRESULT (CFileTransfer::*method)(Params...), Args&&... args) {
        return CallWithError(control_, method, std::forward<Args>(args)...);
    }

    // Every entry of the folder through OpenDirectory and ReadDirectory.
    std::map<std::string, Listed> List(bool parsed = true) {
        std::map<std::string, Listed> entries;
        VARIANT parse = BoolVariant(parsed);
        EXPECT_EQ(Run(&CFileTransfer::OpenDirectory, TextVariant(folder_), &parse), 0)
            << Text(&CFileTransfer::get_LastErrorString);
        for (int i = 0; i < 100; ++i) {
            VariantOutputs<7> out;
            const LONG error = Run(&CFileTransfer::ReadDirectory, out[0], out[1], out[2], out[3],
                                   out[4], out[5], out[6]);
            if (error != 0) {
                EXPECT_EQ(error, fileErrorEndOfDirectory);
                break;
            }
            entries[Utf8FromBstr(out[0]->bstrVal)] = {Utf8FromBstr(out[2]->bstrVal),
                                                      Utf8FromBstr(out[3]->bstrVal),
                                                      Utf8FromBstr(out[4]->bstrVal),
                                                      out[1]->lVal,
                                                      out[5]->lVal,
                                                      out[6]->boolVal != VARIANT_FALSE};
        }
        EXPECT_EQ(Run(&CFileTransfer::CloseDirectory), 0);
        return entries;
    }

    std::unique_ptr<ServerFolder> work_;
    std::string folder_;
    uid_t owner_ = 0;
    gid_t group_ = 0;
};

TEST_P(ControlFiles, ListingsMatchTheFolder) {
    Write("a file.txt", "0123456789", 0640);
    Write("caf\xC3\xA9.txt", "x");
    work_->MakeFolder("inner");
    if (GetParam().facts) {
        // The property stops at NetWare (6); the session itself takes MLSD.
        ASSERT_EQ(FtpSetDirectoryFormat(control_->State().clientHandle, 7), 0);
    }

    std::map<std::string, Listed> entries = List();
    ASSERT_TRUE(entries.count("a file.txt")) << entries.size();
    ASSERT_TRUE(entries.count("caf\xC3\xA9.txt"));
    ASSERT_TRUE(entries.count("inner"));
    EXPECT_EQ(entries["a file.txt"].length, 10);
    EXPECT_EQ(entries["a file.txt"].perms, 0640);
    EXPECT_FALSE(entries["a file.txt"].directory);
    EXPECT_TRUE(entries["inner"].directory);
    EXPECT_EQ(entries["inner"].perms & 0777, 0755);
    // Facts give the numeric ids, vsftpd lists them too (no names are shown).
    EXPECT_EQ(entries["a file.txt"].owner, std::to_string(owner_));
    EXPECT_EQ(entries["a file.txt"].group, std::to_string(group_));
    if (GetParam().facts) {
        EXPECT_EQ(entries["a file.txt"].date, "2020-01-02 03:04:05");
    }

    std::map<std::string, Listed> raw = List(false);
    bool sawName = false;
    for (const auto& [line, listed] : raw) {
        sawName = sawName || line.find("a file.txt") != std::string::npos;
        EXPECT_EQ(listed.length, 0);
    }
    EXPECT_TRUE(sawName);

    VARIANT text;
    VariantInit(&text);
    VARIANT nameOnly = I4(fileListNameOnly);
    EXPECT_EQ(Run(&CFileTransfer::GetFileList, TextVariant(folder_), &text, nullptr, &nameOnly), 0);
    EXPECT_NE(Utf8FromBstr(text.bstrVal).find("a file.txt\r\n"), std::string::npos);
    VariantClear(&text);
}

TEST_P(ControlFiles, InformationMethodsReadTheFile) {
    Write("info.txt", "0123456789", 0604);
    const TextVariant info(Remote("info.txt"));
    VARIANT size = I4(0);
    EXPECT_EQ(Run(&CFileTransfer::GetFileSize, info, &size), 0);
    EXPECT_EQ(size.lVal, 10);
    TextVariant date("");
    EXPECT_EQ(Run(&CFileTransfer::GetFileTime, info, const_cast<VARIANT*>(date.get())), 0);
    EXPECT_EQ(Utf8FromBstr(date.get()->bstrVal), "2020-01-02 03:04:05");
    VARIANT perms = I4(0);
    EXPECT_EQ(Run(&CFileTransfer::GetFilePermissions, info, &perms), 0);
    EXPECT_EQ(perms.lVal, 0604);
    VariantOutputs<6> out;
    EXPECT_EQ(
        Run(&CFileTransfer::GetFileStatus, info, out[0], out[1], out[2], out[3], out[4], out[5]),
        0);
    EXPECT_EQ(out[0]->lVal, 10);
    EXPECT_EQ(out[4]->lVal, 0604);
    EXPECT_EQ(Utf8FromBstr(out[2]->bstrVal), std::to_string(owner_));

    EXPECT_EQ(Run(&CFileTransfer::ChangeDirectory, TextVariant(folder_)), 0);
    TextVariant path("");
    EXPECT_EQ(Run(&CFileTransfer::GetDirectory, const_cast<VARIANT*>(path.get())), 0);
    EXPECT_EQ(Utf8FromBstr(path.get()->bstrVal), work_->path().string());
}

TEST_P(ControlFiles, ManagementMethodsChangeTheFiles) {
    Write("old.txt", "content\n");
    EXPECT_EQ(Run(&CFileTransfer::MakeDirectory, TextVariant(Remote("made"))), 0);
    EXPECT_TRUE(fs::is_directory(*work_ / "made"));
    EXPECT_EQ(Run(&CFileTransfer::RenameFile, TextVariant(Remote("old.txt")),
                  TextVariant(Remote("made/new.txt"))),
              0);
    EXPECT_TRUE(fs::exists(*work_ / "made" / "new.txt"));
    const std::string file = Remote("made/new.txt");

    VARIANT mode = I4(0600);
    EXPECT_EQ(Run(&CFileTransfer::SetFilePermissions, TextVariant(file), &mode), 0);
    struct stat info {};
    ASSERT_EQ(::stat((*work_ / "made" / "new.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    VARIANT when;
    VariantInit(&when);
    when.vt = VT_DATE;
    SYSTEMTIME time{2021, 3, 0, 4, 5, 6, 7, 0};
    SystemTimeToVariantTime(&time, &when.date);
    EXPECT_EQ(Run(&CFileTransfer::SetFileTime, TextVariant(file), &when), 0);
    ASSERT_EQ(::stat((*work_ / "made" / "new.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, 1614834367);

    const fs::path local = fs::temp_directory_path() / (folder_ + "-local.txt");
    std::ofstream(local) << "content\n";
    for (LONG method : {fileVerifySize, fileVerifyCRC32, fileVerifyMD5}) {
        VARIANT options = I4(method);
        const LONG error = Run(&CFileTransfer::VerifyFile, TextVariant(local.string()),
                               TextVariant(file), &options);
        const bool supported = method == fileVerifySize || GetParam().facts;
        EXPECT_EQ(error, supported ? 0 : fileErrorOperationNotSupported) << method;
    }
    std::ofstream(local) << "CONTENT\n";
    VARIANT md5 = I4(fileVerifyMD5);
    if (GetParam().facts) {
        EXPECT_EQ(
            Run(&CFileTransfer::VerifyFile, TextVariant(local.string()), TextVariant(file), &md5),
            fileErrorFileChecksumMismatch);
    }
    fs::remove(local);

    EXPECT_EQ(Run(&CFileTransfer::DeleteFile, TextVariant(file)), 0);
    EXPECT_FALSE(fs::exists(*work_ / "made" / "new.txt"));
    EXPECT_EQ(Run(&CFileTransfer::RemoveDirectory, TextVariant(Remote("made"))), 0);
    EXPECT_FALSE(fs::exists(*work_ / "made"));
    EXPECT_NE(Run(&CFileTransfer::DeleteFile, TextVariant(file)), 0);
}

INSTANTIATE_TEST_SUITE_P(Servers, ControlFiles,
                         ::testing::Values(Server{"vsftpd", "FT_TEST_FTP_PORT", false},
                                           Server{"proftpd", "FT_TEST_PROFTPD_PORT", true}));

}  // namespace
