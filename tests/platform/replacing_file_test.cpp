// The local file of a download: an existing file is replaced only on commit,
// through its link, with its permissions; what is no regular file is written
// in place.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/file.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;

std::size_t Entries(const fs::path& folder) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(ReplacingFileTest, AnExistingFileChangesOnlyOnCommit) {
    ScratchFolder dir("ft-replacing");
    const std::string path = dir / "f.bin";
    const std::string link = dir / "link";
    for (const bool commit : {false, true}) {
        for (const bool throughLink : {false, true}) {
            SCOPED_TRACE(std::string(commit ? "commit" : "discard") +
                         (throughLink ? " through a link" : ""));
            WriteFile(path, "old", 0604);
            if (throughLink) fs::create_symlink(path, link);
            {
                platform::ReplacingFile target;
                ASSERT_EQ(target.Open(throughLink ? link : path), 0);
                EXPECT_TRUE(target.replacing());
                ASSERT_TRUE(target.file().Write("new", 3));
                EXPECT_EQ(ReadFile(path), "old");
                if (commit) {
                    EXPECT_EQ(target.Commit(), 0);
                }
            }
            EXPECT_EQ(ReadFile(path), commit ? "new" : "old");
            struct stat info {};
            ASSERT_EQ(::stat(path.c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 0777, 0604u);
            if (throughLink) {
                EXPECT_TRUE(fs::is_symlink(link));
            }
            EXPECT_EQ(Entries(dir.path()), throughLink ? 2u : 1u);
            fs::remove(link);
        }
    }
}

TEST(ReplacingFileTest, NewFilesAndOtherKindsAreWrittenInPlace) {
    ScratchFolder dir("ft-replacing");
    platform::ReplacingFile target;
    const std::string fresh = dir / "new.bin";
    ASSERT_EQ(target.Open(fresh), 0);
    EXPECT_FALSE(target.replacing());
    EXPECT_EQ(target.writtenPath(), fresh);
    ASSERT_TRUE(target.file().Write("part", 4));
    target.Discard();
    // A partial download stays for a resume.
    EXPECT_EQ(ReadFile(fresh), "part");

    ASSERT_EQ(target.Open("/dev/null"), 0);
    EXPECT_FALSE(target.replacing());
    EXPECT_EQ(target.Commit(), 0);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));

    if (::geteuid() != 0) {
        // A file its owner made read-only is refused as before, not replaced.
        const std::string locked = dir / "locked.bin";
        WriteFile(locked, "keep", 0444);
        EXPECT_EQ(target.Open(locked), platform::kFileErrorAccessDenied);
        EXPECT_EQ(ReadFile(locked), "keep");
        fs::remove(locked);

        // A folder that takes no new file: the file itself is rewritten.
        fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
        ASSERT_EQ(target.Open(fresh), 0);
        EXPECT_FALSE(target.replacing());
        target.Discard();
        fs::permissions(dir.path(), fs::perms::owner_all);
    }
}

}  // namespace
