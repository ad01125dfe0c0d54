// The SFTP client against an in-memory peer: the bounded reader, the start of a
// session, status mapping, malformed and unexpected replies, path canonicalisation,
// directory reading and listing lines, attribute changes; and pipelined transfers
// against a file server that answers READ and WRITE requests out of order: byte-exact
// downloads to disk, memory and the stream, stream writes, restart offsets, short
// reads, refused writes and cancellation. (Uploads from disk and memory, with their
// restart, are sftp_test's against the real server.)
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "sftp_fake_peer.h"
#include "ssh/sftp_session.h"

namespace {

// ---- wire format ---------------------------------------------------------------------

// Reading what real servers send (sizes, times, permissions) is sftp_test's.
TEST(SftpWire, AttributesDropExtendedPairsAndRefuseShortOnes) {
    SftpAttributes read;
    SftpWriter extended(SSH_FXP_ATTRS);
    extended.Uint32(kSftpAttrExtended | kSftpAttrSize).Uint64(5).Uint32(1).String("a").String("b");
    auto more = extended.Finish();
    SshReader second(more.subspan(5));
    ASSERT_TRUE(ReadSftpAttributes(second, read));
    EXPECT_EQ(read.size, 5u);
    EXPECT_EQ(second.Remaining(), 0u);

    const std::vector<std::uint8_t> shortAttributes{0, 0, 0, 1, 0, 0, 0};  // size flag, 3 bytes
    SshReader truncated(shortAttributes);
    EXPECT_FALSE(ReadSftpAttributes(truncated, read));
}

// ---- session start -------------------------------------------------------------------

// A server that states its limits gets blocks up to them (at most 255 KiB);
// one that refuses the request or answers it badly keeps 32 KiB blocks.
TEST(SftpStart, StatedLimitsSetTheBlockSizes) {
    using Limits = std::array<std::uint64_t, 4>;  // packet, read, write, handles
    const struct {
        const char* name;
        bool announced;
        std::optional<Limits> limits;  // none: a STATUS "unsupported" answers
        std::uint32_t read, write;
    } rows[] = {
        {"no extension", false, Limits{}, 32768, 32768},
        {"refused", true, std::nullopt, 32768, 32768},
        {"OpenSSH's", true, Limits{262144, 261120, 261120, 0}, 261120, 261120},
        {"no limits of its own", true, Limits{0, 0, 0, 0}, 261120, 261120},
        {"small packets", true, Limits{65536, 0, 1 << 20, 0}, 64512, 64512},
        {"small reads", true, Limits{0, 16384, 0, 0}, 16384, 261120},
        {"absurd", true, Limits{0, 1, 512, 0}, 32768, 32768},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto peer = std::make_shared<FakeSftpPeer>();
        if (row.announced) peer->versionExtensions = {{"limits@openssh.com", "1"}};
        peer->onExtended = [&row](const FakeRequest& request, FakeSftpPeer& p) {
            EXPECT_EQ(request.FirstString(), "limits@openssh.com");
            if (!row.limits) return p.Status(request.id, 8);
            SftpWriter w(SSH_FXP_EXTENDED_REPLY);
            w.Uint32(request.id);
            for (std::uint64_t value : *row.limits)
                w.Uint64(value);
            p.Packet(w);
        };
        DWORD error = 0;
        SftpSession* session = SftpConnectOver(std::make_unique<FakeSftpLink>(peer), &error);
        ASSERT_NE(session, nullptr);
        EXPECT_EQ(session->readBlock, row.read);
        EXPECT_EQ(session->writeBlock, row.write);
        EXPECT_STREQ(SftpGetCurrentDirectory(session), "/home/u");
        SftpDisconnect(session);
    }
}

class RawReplyLink final : public SftpChannelLink {
  public:
    explicit RawReplyLink(std::vector<std::uint8_t> reply) : reply_(std::move(reply)) {}
    bool Send(std::span<const std::uint8_t>) override { return true; }
    bool ReadExactly(std::span<std::uint8_t> out) override {
        if (reply_.size() < out.size()) return false;
        std::memcpy(out.data(), reply_.data(), out.size());
        reply_.erase(reply_.begin(), reply_.begin() + static_cast<long>(out.size()));
        return true;
    }
    int error() const override { return 0; }
    void Close() override {}

  private:
    std::vector<std::uint8_t> reply_;
};

TEST(SftpStart, BadAnswersToInitAreRefusedWithTheirError) {
    const struct {
        const char* name;
        std::vector<std::uint8_t> reply;  // the whole answer to INIT
        int error;
    } cases[] = {
        {"no reply", {}, fileErrorNotConnected},
        {"version four", {0, 0, 0, 5, 2, 0, 0, 0, 4}, fileErrorProtocolNotSupported},
        {"not VERSION", {0, 0, 0, 5, 101, 0, 0, 0, 3}, fileErrorUnexpectedServerResponse},
        {"no version field", {0, 0, 0, 1, 2}, fileErrorInvalidPacketData},
    };
    for (const auto& c : cases) {
        DWORD error = 0;
        EXPECT_EQ(SftpConnectOver(std::make_unique<RawReplyLink>(c.reply), &error), nullptr);
        EXPECT_EQ(error, MakeErrorCode(c.error)) << c.name;
    }
}

TEST(SftpStart, ConnectValidatesHostAndProtocolBeforeTheNetwork) {
    DWORD error = 0;
    EXPECT_EQ(SftpConnect("", 22, "u", "p", 1, 0, 0, &error), nullptr);
    EXPECT_EQ(error, DWORD(fileErrorInvalidHostName)) << "the plain number";
    EXPECT_EQ(SftpConnect("127.0.0.1", 22, "u", "p", 1, 0, 7, &error), nullptr);
    EXPECT_EQ(error, 0x80042739u);
}

// ---- statuses ------------------------------------------------------------------------

// End of file and a code beyond the table; success, "no such file" and a general
// failure are sftp_test's against the real server (codes 200, 550 and 500).
TEST(SftpStatus, BecomesLastErrorReplyCodeAndText) {
    const struct {
        std::uint32_t status;
        int error, code;
        const char* text;
    } cases[] = {
        {1, fileErrorEndOfFile, 226, "Closing data connection"},
        {42, fileErrorUnexpectedServerResponse, 502, "Unrecognized command"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        FakeSession s;
        s->handler = [&](const FakeRequest& r, FakeSftpPeer& peer) { peer.Status(r.id, c.status); };
        EXPECT_EQ(SftpMakeDirectory(s.session, "d"), 0);
        EXPECT_EQ(LastErrorNumber(s.session), c.error);
        EXPECT_EQ(SftpGetResultCode(s.session), c.code);
        char text[64];
        SftpGetResultString(s.session, text, sizeof text);
        EXPECT_STREQ(text, c.text);
        char small[5];
        EXPECT_EQ(SftpGetResultString(s.session, small, sizeof small), 4);
    }
}

// ---- malformed and unexpected replies --------------------------------------------------

// A reply of raw bytes, whatever was asked.
FakeSftpPeer::Handler Raw(std::vector<std::uint8_t> bytes) {
    return [bytes](const FakeRequest&, FakeSftpPeer& p) { p.Raw(bytes); };
}

TEST(SftpReplies, FaultsFailTheOperationWithTheirError) {
    const struct {
        const char* name;
        FakeSftpPeer::Handler reply;
        int error;
    } cases[] = {
        {"unknown id", [](const FakeRequest& r, FakeSftpPeer& p) { p.Status(r.id + 7, 0); },
         fileErrorInvalidPacketId},
        {"no id", Raw({0, 0, 0, 2, 101, 0}), fileErrorInvalidPacketData},
        {"status without code",
         [](const FakeRequest& r, FakeSftpPeer& p) {
             p.Packet(SftpWriter(SSH_FXP_STATUS).Uint32(r.id));
         },
         fileErrorInvalidPacketData},
        {"wrong type", [](const FakeRequest& r, FakeSftpPeer& p) { p.Handle(r.id, "h"); },
         fileErrorInvalidPacketData},
        {"truncated packet", Raw({0, 0, 0, 40, 101, 0, 0}), fileErrorOperationTimeout},
        {"oversized length", Raw({0x7F, 0, 0, 0, 101}), fileErrorInvalidPacketSize},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSession s;
        s->handler = c.reply;
        EXPECT_EQ(SftpRemoveDirectory(s.session, "/x"), 0);
        EXPECT_EQ(LastErrorNumber(s.session), c.error);
        EXPECT_EQ(SftpGetResultCode(s.session), 502);
    }
}

TEST(SftpReplies, LengthBeyondThePacketIsAnInvalidResponse) {
    FakeSession s;
    s->handler = [](const FakeRequest& r, FakeSftpPeer& p) {
        SftpWriter w(SSH_FXP_ATTRS);
        w.Uint32(r.id).Uint32(kSftpAttrSize).Uint32(0);  // half of the 64-bit size
        p.Packet(w);
    };
    std::uint64_t size = 0;
    EXPECT_EQ(SftpGetFileSize(s.session, "/f", &size), 0);
    EXPECT_EQ(LastErrorNumber(s.session), fileErrorInvalidServerResponse);
}

TEST(SftpReplies, ALostReplyEndsTheSession) {
    FakeSession s;
    s->handler = [](const FakeRequest&, FakeSftpPeer& p) { p.Raw({0, 0, 0, 40, 101}); };
    EXPECT_EQ(SftpMakeDirectory(s.session, "/d"), 0);
    EXPECT_EQ(LastErrorNumber(s.session), fileErrorOperationTimeout);
    const std::size_t before = s->seen.size();
    EXPECT_EQ(SftpMakeDirectory(s.session, "/d"), 0);
    EXPECT_EQ(LastErrorNumber(s.session), fileErrorNotConnected);
    EXPECT_EQ(s->seen.size(), before) << "nothing more is sent on a broken stream";
}

TEST(SftpReplies, LateReplyOfAFailedRequestIsDropped) {
    FakeSession s;
    std::vector<std::uint32_t> removals;
    s->handler = [&](const FakeRequest& r, FakeSftpPeer& p) {
        removals.push_back(r.id);
        if (removals.size() == 1) return p.Status(r.id + 7, 0);
        p.Status(removals[0], 4);  // the first request's answer, too late
        p.Status(r.id, 0);
    };
    EXPECT_EQ(SftpRemoveDirectory(s.session, "/x"), 0);
    EXPECT_EQ(LastErrorNumber(s.session), fileErrorInvalidPacketId);
    EXPECT_EQ(SftpRemoveDirectory(s.session, "/x"), 1);
    ASSERT_EQ(removals.size(), 2u);
    EXPECT_NE(removals[0], removals[1]) << "the unanswered id stays taken";
}

TEST(SftpReplies, EmptyPacketsAreDroppedAndTheSessionGoesOn) {
    FakeSession s;
    s->handler = [](const FakeRequest& r, FakeSftpPeer& p) {
        p.Raw({0, 0, 0, 0});
        p.Status(r.id, 0);
    };
    EXPECT_EQ(SftpRemoveDirectory(s.session, "/x"), 1);
}

// ---- paths ---------------------------------------------------------------------------

// A relative and an absolute name are sftp_test's against the real server.
TEST(SftpPaths, ResolveAsTheServerAnswers) {
    const struct {
        const char* argument;
        std::vector<std::string> unresolvable;  // REALPATH fails for these
        const char* expected;                   // the path REMOVE receives
    } cases[] = {
        {"~/x", {}, "/home/u/x"},
        {"link", {}, "/data/real"},
        {"link/new.txt", {"/home/u/link/new.txt"}, "/data/real/new.txt"},
        {"gone/..", {"/home/u/gone/.."}, "/home/u/gone/.."},
        {"a/b/", {"/home/u/a/b/", "/home/u/a"}, "/home/u/a/b/"},
    };
    for (const auto& c : cases) {
        FakeSession s;
        s->handlerResolves = true;
        std::string removed;
        s->handler = [&](const FakeRequest& r, FakeSftpPeer& p) {
            const std::string path = r.FirstString();
            if (r.type == SSH_FXP_REMOVE) {
                removed = path;
                return p.Status(r.id, 0);
            }
            for (const std::string& bad : c.unresolvable) {
                if (path == bad) return p.Status(r.id, 2);
            }
            p.Name(r.id, path == "/home/u/link" ? "/data/real" : path);
        };
        EXPECT_EQ(SftpDeleteFile(s.session, c.argument), 1) << c.argument;
        EXPECT_EQ(removed, c.expected);
    }
}

TEST(SftpPaths, EmptyNamesAreRefusedWithoutARequest) {
    FakeSession s;
    const std::size_t before = s->seen.size();
    EXPECT_EQ(SftpDeleteFile(s.session, ""), 0);
    EXPECT_EQ(LastErrorNumber(s.session), fileErrorInvalidFileName);
    EXPECT_EQ(SftpDeleteFile(nullptr, "x"), 0);
    EXPECT_EQ(s->seen.size(), before);
}

// ---- directories ---------------------------------------------------------------------

SftpAttributes EntryAttributes(std::uint32_t permissions, std::uint64_t size, std::uint32_t mtime) {
    SftpAttributes a;
    a.flags = kSftpAttrSize | kSftpAttrUidGid | kSftpAttrPermissions | kSftpAttrTimes;
    a.size = size;
    a.uid = 1000;
    a.gid = 1001;
    a.permissions = permissions;
    a.mtime = mtime;
    return a;
}

// Serves one directory: names in one page, then end of file.
void ServeDirectory(FakeSession& s, std::vector<std::string> names, bool* closed = nullptr) {
    auto pages = std::make_shared<int>(0);
    s->handler = [=](const FakeRequest& r, FakeSftpPeer& p) {
        switch (r.type) {
            case SSH_FXP_OPENDIR:
                return r.FirstString() == "/nope" ? p.Status(r.id, 2) : p.Handle(r.id, "D");
            case SSH_FXP_CLOSE:
                if (closed) *closed = true;
                return p.Status(r.id, 0);
            case SSH_FXP_READDIR: {
                if ((*pages)++ > 0 || names.empty()) return p.Status(r.id, 1);
                SftpWriter w(SSH_FXP_NAME);
                w.Uint32(r.id).Uint32(static_cast<std::uint32_t>(names.size()));
                for (const std::string& n : names) {
                    w.String(n).String("long " + n).Attributes(EntryAttributes(0100644, 5, 0));
                }
                return p.Packet(w);
            }
            default:
                return p.Status(r.id, 8);
        }
    };
}

std::vector<std::string> Lines(SftpSession* session) {
    std::vector<std::string> names;
    char line[1024];
    while (SftpGetNextListingLine(session, line)) {
        names.push_back(std::string(line).substr(std::string(line).rfind(' ') + 1));
    }
    return names;
}

TEST(SftpDirectory, MaskFiltersCaseSensitivelyAndEntriesSortByteWise) {
    FakeSession s;
    bool closed = false;
    ServeDirectory(s, {"a.txt", "A.TXT", "a.txt.bak", "B.txt", "b.txt"}, &closed);
    ASSERT_EQ(SftpReadDirectory(s.session, "*.txt"), 1);
    EXPECT_TRUE(closed);
    EXPECT_EQ(Lines(s.session), (std::vector<std::string>{"B.txt", "a.txt", "b.txt"}));
    EXPECT_EQ(LastErrorNumber(s.session), fileErrorInvalidParameter) << "read past the last entry";
    long count = 0;
    long next = 0;
    SftpGetDirectoryPosition(s.session, &count, &next);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(next, 3);
}

TEST(SftpDirectory, WildcardInTheDirectoryPartAndMissingDirectoriesFail) {
    FakeSession s;
    ServeDirectory(s, {"x"});
    EXPECT_EQ(SftpReadDirectory(s.session, "dir*/x.txt"), 0);
    EXPECT_EQ(LastErrorNumber(s.session), fileErrorDirectoryNotFound);
    EXPECT_EQ(SftpChangeDirectory(s.session, "/nope"), 0);
    EXPECT_EQ(LastErrorNumber(s.session), fileErrorDirectoryNotFound);
    EXPECT_STREQ(SftpGetCurrentDirectory(s.session), "/home/u");
    EXPECT_EQ(SftpChangeDirectory(s.session, "/srv"), 1);
    EXPECT_STREQ(SftpGetCurrentDirectory(s.session), "/srv");
    EXPECT_EQ(SftpChangeDirectory(s.session, nullptr), 1);
    EXPECT_STREQ(SftpGetCurrentDirectory(s.session), "/home/u");
}

TEST(SftpDirectory, EmptyDirectoryEndsAtOnce) {
    FakeSession s;
    ServeDirectory(s, {});
    ASSERT_EQ(SftpReadDirectory(s.session, nullptr), 1);
    char line[1024];
    EXPECT_EQ(SftpGetNextListingLine(s.session, line), 0);
    EXPECT_EQ(LastErrorNumber(s.session), fileErrorEndOfDirectory);
}

TEST(SftpDirectory, ListingLineHasTheNumericLayout) {
    FakeSession s;
    s->handler = [](const FakeRequest& r, FakeSftpPeer& p) {
        if (r.type == SSH_FXP_OPENDIR) return p.Handle(r.id, "D");
        if (r.type == SSH_FXP_CLOSE) return p.Status(r.id, 0);
        static int calls = 0;
        if (calls++ % 2) return p.Status(r.id, 1);
        SftpWriter w(SSH_FXP_NAME);
        w.Uint32(r.id).Uint32(2);
        w.String("docs")
            .String("drwxr-xr-x docs")
            .Attributes(EntryAttributes(16877, 4096, 1325375998));
        SftpAttributes none;
        w.String("bare").String("bare").Attributes(none);
        p.Packet(w);
    };
    ASSERT_EQ(SftpReadDirectory(s.session, ""), 1);
    char line[1024];
    ASSERT_EQ(SftpGetNextListingLine(s.session, line), 1);
    EXPECT_STREQ(line, "0 1 0 0 0 01-01-1970 00:00:00 bare");
    ASSERT_EQ(SftpGetNextListingLine(s.session, line), 1);
    EXPECT_STREQ(line, "16877 1 1000 1001 4096 12-31-2011 23:59:58 docs");
}

TEST(SftpDirectory, NameListCutsAtTheBufferAndDropsTheEntries) {
    FakeSession s;
    ServeDirectory(s, {"alpha", "beta"});
    char buffer[64];
    ASSERT_EQ(SftpGetNameList(s.session, "", 1, buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "alpha\r\nbeta\r\n");
    char small[10];
    ServeDirectory(s, {"alpha", "beta"});
    ASSERT_EQ(SftpGetNameList(s.session, "", 0, small, sizeof small), 1);
    EXPECT_STREQ(small, "long alph");
    long count = -1;
    SftpGetDirectoryPosition(s.session, &count, nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(SftpGetNameList(s.session, "", 0, small, 1), 0);
    EXPECT_EQ(LastErrorNumber(s.session), fileErrorBufferTooSmall);
}

// ---- attributes ----------------------------------------------------------------------

TEST(SftpAttributeChanges, SameValuesSendNothingAndChangesKeepTheOtherFields) {
    FakeSession s;
    SftpAttributes current = EntryAttributes(0100644, 10, 1000000);
    current.atime = 55;
    std::vector<SftpAttributes> set;
    s->handler = [&](const FakeRequest& r, FakeSftpPeer& p) {
        if (r.type == SSH_FXP_STAT) return p.Attrs(r.id, current);
        SshReader fields = r.Fields();
        std::string_view path;
        SftpAttributes a;
        EXPECT_TRUE(fields.ReadString(&path));
        EXPECT_TRUE(ReadSftpAttributes(fields, a));
        set.push_back(a);
        p.Status(r.id, 0);
    };
    EXPECT_EQ(SftpSetFilePermissions(s.session, "f", 0644), 1);
    EXPECT_TRUE(set.empty());
    EXPECT_EQ(SftpSetFilePermissions(s.session, "f", 0100600), 1);
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set[0].flags, kSftpAttrPermissions);
    EXPECT_EQ(set[0].permissions, 0600u) << "file-type bits are not sent";
    DWORD permissions = 0;
    EXPECT_EQ(SftpGetFilePermissions(s.session, "f", &permissions), 1);
    EXPECT_EQ(permissions, 0644u);

    SYSTEMTIME utc{};
    ASSERT_EQ(SftpGetFileTime(s.session, "f", &utc, false), 1);
    EXPECT_EQ(utc.wYear, 1970);
    EXPECT_EQ(utc.wDay, 12);
    EXPECT_EQ(SftpSetFileTime(s.session, "f", &utc), 1);
    EXPECT_EQ(set.size(), 1u) << "unchanged time sends nothing";
    // Times go out as given, in UTC, whatever the local zone.
    const SYSTEMTIME billion{2001, 9, 0, 9, 1, 46, 40, 0};
    EXPECT_EQ(SftpSetFileTime(s.session, "f", &billion), 1);
    ASSERT_EQ(set.size(), 2u);
    EXPECT_EQ(set[1].flags, kSftpAttrTimes);
    EXPECT_EQ(set[1].atime, 55u);
    EXPECT_EQ(set[1].mtime, 1000000000u);

    current.flags = kSftpAttrSize;
    EXPECT_EQ(SftpSetFilePermissions(s.session, "f", 0600), 0);
    EXPECT_EQ(LastErrorNumber(s.session), fileErrorOperationNotSupported);
    EXPECT_EQ(SftpGetFileTime(s.session, "f", &utc, false), 0);
    EXPECT_EQ(LastErrorNumber(s.session), fileErrorFeatureNotSupported);
}

TEST(SftpAttributeChanges, FileStatusFillsTheRecord) {
    FakeSession s;
    s->handler = [](const FakeRequest& r, FakeSftpPeer& p) {
        p.Attrs(r.id, EntryAttributes(040755, 4096, 0));
    };
    SftpFileInfo info;
    ASSERT_EQ(SftpGetFileStatus(s.session, "sub", &info), 1);
    EXPECT_EQ(info.name, "/home/u/sub");
    EXPECT_EQ(info.owner, "1000");
    EXPECT_TRUE(info.directory);
    EXPECT_EQ(info.permissions, 0755u);
    EXPECT_EQ(info.size, 4096u);
}

std::vector<std::uint8_t> RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(random());
    return bytes;
}

// Files by path; READ and WRITE replies are held and sent in reverse order of
// arrival once `batch` of them are waiting (or at any other request).
struct FileServer {
    std::map<std::string, std::vector<std::uint8_t>> files;
    std::map<std::string, std::string> handles;  // handle -> path
    std::size_t batch = 5;
    std::uint32_t writeStatus = 0;
    std::size_t readsSeen = 0;
    std::size_t largestInFlight = 0;
    bool growWhileReading = false;
    std::vector<std::function<void(FakeSftpPeer&)>> held;

    void Flush(FakeSftpPeer& peer) {
        for (auto it = held.rbegin(); it != held.rend(); ++it)
            (*it)(peer);
        held.clear();
    }

    void Serve(const FakeRequest& r, FakeSftpPeer& peer) {
        SshReader fields = r.Fields();
        std::string_view text;
        EXPECT_TRUE(fields.ReadString(&text));
        const std::string first(text);
        if (r.type != SSH_FXP_READ && r.type != SSH_FXP_WRITE) Flush(peer);
        switch (r.type) {
            case SSH_FXP_STAT:
            case SSH_FXP_FSTAT: {
                const std::string path = r.type == SSH_FXP_STAT ? first : handles[first];
                if (!files.count(path)) return peer.Status(r.id, 2);
                SftpAttributes a;
                a.flags = kSftpAttrSize;
                a.size = files[path].size();
                return peer.Attrs(r.id, a);
            }
            case SSH_FXP_OPEN: {
                std::uint32_t flags = 0;
                EXPECT_TRUE(fields.ReadUint32(&flags));
                if (!files.count(first) && !(flags & 8)) return peer.Status(r.id, 2);
                if (flags & 16) files[first].clear();
                files[first];
                const std::string handle = "H" + std::to_string(handles.size());
                handles[handle] = first;
                return peer.Handle(r.id, handle);
            }
            case SSH_FXP_CLOSE:
                return peer.Status(r.id, 0);
            case SSH_FXP_READ:
                return Read(r, fields, handles[first], peer);
            case SSH_FXP_WRITE:
                return Write(r, fields, handles[first], peer);
            default:
                return peer.Status(r.id, 8);
        }
    }

    void Read(const FakeRequest& r, SshReader& fields, const std::string& path,
              FakeSftpPeer& peer) {
        std::uint64_t offset = 0;
        std::uint32_t length = 0;
        EXPECT_TRUE(fields.ReadUint64(&offset));
        EXPECT_TRUE(fields.ReadUint32(&length));
        ++readsSeen;
        if (growWhileReading) files[path].resize(files[path].size() + 1000, 0xEE);
        const auto& data = files[path];
        const std::uint32_t id = r.id;
        if (offset >= data.size()) {
            held.push_back([id](FakeSftpPeer& p) { p.Status(id, 1); });
        } else {
            const std::size_t count = std::min<std::size_t>(length, data.size() - offset);
            std::vector<std::uint8_t> piece(data.begin() + static_cast<long>(offset),
                                            data.begin() + static_cast<long>(offset + count));
            held.push_back([id, piece](FakeSftpPeer& p) { p.Data(id, piece); });
        }
        Track(peer);
    }

    void Write(const FakeRequest& r, SshReader& fields, const std::string& path,
               FakeSftpPeer& peer) {
        std::uint64_t offset = 0;
        std::span<const std::uint8_t> data;
        EXPECT_TRUE(fields.ReadUint64(&offset));
        EXPECT_TRUE(fields.ReadString(&data));
        auto& file = files[path];
        if (file.size() < offset + data.size()) file.resize(offset + data.size());
        std::copy(data.begin(), data.end(), file.begin() + static_cast<long>(offset));
        const std::uint32_t id = r.id;
        const std::uint32_t status = writeStatus;
        held.push_back([id, status](FakeSftpPeer& p) { p.Status(id, status); });
        Track(peer);
    }

    void Track(FakeSftpPeer& peer) {
        largestInFlight = std::max(largestInFlight, held.size());
        if (held.size() >= batch) Flush(peer);
    }
};

struct SftpTransferTest : ::testing::Test {
    FakeSession s;
    FileServer server;
    std::vector<int> events;
    std::filesystem::path dir;

    void SetUp() override {
        s->handler = [this](const FakeRequest& r, FakeSftpPeer& p) { server.Serve(r, p); };
        s->onStarve = [this](FakeSftpPeer& p) { server.Flush(p); };
        SftpSetEventHandler(
            s.session,
            [](SftpSession*, int event, const SftpTransferRecord*, void* self) {
                static_cast<SftpTransferTest*>(self)->events.push_back(event);
            },
            this);
        dir =
            std::filesystem::temp_directory_path() /
            ("sftp_transfer_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string Local(const char* name) { return (dir / name).string(); }
    static std::vector<std::uint8_t> ReadLocal(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static void WriteLocal(const std::string& path, const std::vector<std::uint8_t>& bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    }
};

TEST_F(SftpTransferTest, DownloadsAreByteExactWithRepliesOutOfOrder) {
    for (std::size_t size : {0u, 1u, 32768u, 32768u * 40 + 123}) {
        server.files["/f"] = RandomBytes(size, static_cast<unsigned>(size));
        ASSERT_EQ(SftpGetFile(s.session, Local("f").c_str(), "/f", 0), 1) << size;
        EXPECT_EQ(ReadLocal(Local("f")), server.files["/f"]) << size;
    }
    EXPECT_EQ(SftpGetResultCode(s.session), 200);
    EXPECT_EQ(events.front(), kSftpEventConnected);
    EXPECT_NE(std::find(events.begin(), events.end(), kSftpEventTransferStart), events.end());
    EXPECT_EQ(events.back(), kSftpEventTransferEnd);
}

TEST_F(SftpTransferTest, DownloadKeepsTheWindowFullAndRestartsAtTheLocalPosition) {
    server.batch = 1000;  // hold everything until the window is full
    server.files["/f"] = RandomBytes(3 * 1048576 + 7, 3);
    ASSERT_EQ(SftpGetFile(s.session, Local("f").c_str(), "/f", 0), 1);
    EXPECT_EQ(server.largestInFlight, 64u) << "64 reads of 32 KiB in flight";

    server.batch = 5;
    auto partial = server.files["/f"];
    partial.resize(100000);
    partial.push_back(0x55);  // a byte beyond the offset is cut off
    WriteLocal(Local("f"), partial);
    ASSERT_EQ(SftpGetFile(s.session, Local("f").c_str(), "/f", 100000), 1);
    EXPECT_EQ(ReadLocal(Local("f")), server.files["/f"]);
    WriteLocal(Local("short"), {1, 2, 3});
    ASSERT_EQ(SftpGetFile(s.session, Local("short").c_str(), "/f", 500), 1)
        << "an offset beyond the local file resumes at its end";
    auto expected = server.files["/f"];
    std::copy_n(std::vector<std::uint8_t>{1, 2, 3}.begin(), 3, expected.begin());
    EXPECT_EQ(ReadLocal(Local("short")), expected);
}

TEST_F(SftpTransferTest, DataPastAShortReadIsASizeMismatch) {
    server.files["/f"] = RandomBytes(100000, 4);
    s->handler = [this](const FakeRequest& r, FakeSftpPeer& p) {
        if (r.type == SSH_FXP_READ) {
            SshReader fields = r.Fields();
            std::string_view handle;
            std::uint64_t offset = 0;
            EXPECT_TRUE(fields.ReadString(&handle));
            EXPECT_TRUE(fields.ReadUint64(&offset));
            // The first block comes back short, the others whole.
            std::vector<std::uint8_t> piece(offset == 0 ? 100 : 32768, 1);
            return p.Data(r.id, piece);
        }
        server.Serve(r, p);
    };
    EXPECT_EQ(SftpGetFile(s.session, Local("f").c_str(), "/f", 0), 0);
    EXPECT_EQ(LastErrorNumber(s.session), fileErrorFileSizeMismatch);
    EXPECT_EQ(SftpGetResultCode(s.session), 502);
    s->handler = [this](const FakeRequest& r, FakeSftpPeer& p) { server.Serve(r, p); };
    EXPECT_EQ(SftpGetFileSize(s.session, "/f", nullptr), 0);
    std::uint64_t size = 0;
    EXPECT_EQ(SftpGetFileSize(s.session, "/f", &size), 1) << "the session is still usable";
    EXPECT_EQ(size, 100000u);
}

TEST_F(SftpTransferTest, CancelClosesTheHandleAndRaisesCancelThenEnd) {
    server.files["/f"] = RandomBytes(2 * 1048576, 5);
    SftpSetEventHandler(
        s.session,
        [](SftpSession* session, int event, const SftpTransferRecord* record, void* self) {
            static_cast<SftpTransferTest*>(self)->events.push_back(event);
            if (event == kSftpEventProgress && record->bytesCopied > 100000) SftpCancel(session);
        },
        this);
    events.clear();
    EXPECT_EQ(SftpGetFile(s.session, Local("f").c_str(), "/f", 0), 0);
    EXPECT_EQ(LastErrorNumber(s.session), fileErrorOperationCanceled);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], kSftpEventCanceled);
    EXPECT_EQ(events.back(), kSftpEventTransferEnd);
    EXPECT_EQ(s->seen.back().type, SSH_FXP_CLOSE);
    std::uint64_t size = 0;
    EXPECT_EQ(SftpGetFileSize(s.session, "/f", &size), 1) << "late read replies are discarded";
}

TEST_F(SftpTransferTest, RefusedWriteFailsWithItsStatus) {
    WriteLocal(Local("up"), RandomBytes(50000, 7));
    server.writeStatus = 3;
    EXPECT_EQ(SftpPutFile(s.session, Local("up").c_str(), "/u", 0), 0);
    EXPECT_EQ(LastErrorNumber(s.session), fileErrorAccessDenied);
    EXPECT_EQ(SftpPutFile(s.session, Local("missing").c_str(), "/u", 0), 0);
    EXPECT_EQ(LastErrorNumber(s.session), fileErrorFileNotFound);
}

TEST_F(SftpTransferTest, MemoryDownloadStaysInsideItsBlock) {
    server.files["/f"] = RandomBytes(10000, 8);
    HGLOBAL memory = nullptr;
    std::uint64_t length = 0;
    ASSERT_EQ(SftpGetFileToMemory(s.session, "/f", &memory, &length, 0), 1);
    ASSERT_EQ(length, 10000u);  // the bytes are sftp_test's
    EXPECT_EQ(GlobalSize(memory), 12288u);
    GlobalFree(memory);

    server.growWhileReading = true;  // the file grows under the transfer
    ASSERT_EQ(SftpGetFileToMemory(s.session, "/f", &memory, &length, 0), 1);
    EXPECT_LE(length, GlobalSize(memory));
    GlobalFree(memory);

    EXPECT_EQ(SftpGetFileToMemory(s.session, "/none", &memory, &length, 0), 0);
    EXPECT_EQ(memory, nullptr);
    EXPECT_EQ(length, 0u);
}

TEST_F(SftpTransferTest, StreamReadsAndWritesInPieces) {
    server.files["/f"] = RandomBytes(200000, 9);
    ASSERT_EQ(SftpOpenFile(s.session, "/f", kSftpStreamRead, 1000), 1);
    EXPECT_EQ(SftpGetFile(s.session, Local("x").c_str(), "/f", 0), 0);
    EXPECT_EQ(LastErrorNumber(s.session), fileErrorConnectionOpen);
    char small[1];
    EXPECT_EQ(SftpWrite(s.session, small, 1), -1);
    EXPECT_EQ(LastErrorNumber(s.session), fileErrorDataReadOnly);
    std::vector<std::uint8_t> got;
    std::vector<std::uint8_t> buffer(7000);
    long count = 0;
    while ((count = SftpRead(s.session, buffer.data(), static_cast<long>(buffer.size()))) > 0) {
        got.insert(got.end(), buffer.begin(), buffer.begin() + count);
    }
    EXPECT_EQ(count, 0);
    EXPECT_EQ(LastErrorNumber(s.session), fileErrorEndOfData);
    EXPECT_EQ(SftpIsEndOfData(s.session), 1);
    EXPECT_EQ(got, std::vector<std::uint8_t>(server.files["/f"].begin() + 1000,
                                             server.files["/f"].end()));
    ASSERT_EQ(SftpCloseFile(s.session), 1);
    EXPECT_EQ(SftpCloseFile(s.session), 0);
    EXPECT_EQ(LastErrorNumber(s.session), fileErrorConnectionClosed);

    const auto tail = RandomBytes(10000, 10);
    ASSERT_EQ(SftpOpenFile(s.session, "/f", kSftpStreamAppend, 0), 1);
    EXPECT_EQ(SftpIsEndOfData(s.session), 0);
    EXPECT_EQ(SftpWrite(s.session, tail.data(), static_cast<long>(tail.size())), 10000);
    ASSERT_EQ(SftpCloseFile(s.session), 1);
    EXPECT_EQ(server.files["/f"].size(), 210000u);
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), server.files["/f"].begin() + 200000));

    ASSERT_EQ(SftpOpenFile(s.session, "/new", kSftpStreamAppend, 0), 1) << "append creates";
    ASSERT_EQ(SftpCloseFile(s.session), 1);
    EXPECT_TRUE(server.files.count("/new"));
    EXPECT_EQ(SftpOpenFile(s.session, "/f", 3, 0), 0);
    EXPECT_EQ(LastErrorNumber(s.session), fileErrorFeatureNotSupported);
    EXPECT_EQ(SftpOpenFile(s.session, "/f", 9, 0), 0);
    EXPECT_EQ(LastErrorNumber(s.session), fileErrorInvalidParameter);
}

TEST_F(SftpTransferTest, StreamWriteReportsARefusedWriteAtTheLatestOnClose) {
    server.writeStatus = 3;
    ASSERT_EQ(SftpOpenFile(s.session, "/w", kSftpStreamWrite, 0), 1);
    const auto bytes = RandomBytes(3000, 11);
    EXPECT_EQ(SftpWrite(s.session, bytes.data(), 3000), 3000);
    EXPECT_EQ(SftpCloseFile(s.session), 0);
    EXPECT_EQ(LastErrorNumber(s.session), fileErrorAccessDenied);
}

}  // namespace
