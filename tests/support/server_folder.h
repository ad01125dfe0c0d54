// A folder of the test's own in a test server's area on the local disk (the
// test user's home, nginx's root), owned like that area so the servers may
// change what is in it, and removed with everything in it afterwards.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/test_files.h"

class ServerFolder {
  public:
    // root must exist (the caller has checked its setting).
    ServerFolder(const std::string& root, const std::string& tag)
        : name_(UniqueTestName(tag)), path_(std::filesystem::path(root) / name_) {
        struct stat area {};
        EXPECT_EQ(::stat(root.c_str(), &area), 0) << root;
        owner_ = area.st_uid;
        group_ = area.st_gid;
        std::filesystem::create_directories(path_);
        Own(path_);
    }
    ~ServerFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ServerFolder(const ServerFolder&) = delete;
    ServerFolder& operator=(const ServerFolder&) = delete;

    // The folder's name inside root: the servers' name for it from the login folder.
    const std::string& name() const { return name_; }
    std::string Remote(const std::string& file) const { return name_ + "/" + file; }
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& file) const { return path_ / file; }
    uid_t owner() const { return owner_; }
    gid_t group() const { return group_; }

    // Gives a file or folder to the area's owner (possible as root only).
    void Own(const std::filesystem::path& path) const {
        if (::geteuid() == 0) {
            EXPECT_EQ(::chown(path.c_str(), owner_, group_), 0) << path;
        }
    }
    // A file written straight into the folder, with its mode and (if given) its
    // modification time; the servers' name for it.
    std::string Put(const std::string& file, const std::string& content, mode_t mode = 0644,
                    time_t modified = 0) const {
        const std::filesystem::path path = path_ / file;
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
        Own(path);
        ::chmod(path.c_str(), mode);
        if (modified != 0) {
            const struct timespec times[2] = {{modified, 0}, {modified, 0}};
            ::utimensat(AT_FDCWD, path.c_str(), times, 0);
        }
        return Remote(file);
    }
    std::string MakeFolder(const std::string& folder, mode_t mode = 0755) const {
        EXPECT_EQ(::mkdir((path_ / folder).c_str(), mode), 0) << folder;
        Own(path_ / folder);
        return Remote(folder);
    }

  private:
    std::string name_;
    std::filesystem::path path_;
    uid_t owner_ = 0;
    gid_t group_ = 0;
};
