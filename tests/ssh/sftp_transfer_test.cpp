// Pipelined transfers against an in-memory file server that answers READ and
// WRITE requests out of order: byte-exact downloads and uploads to disk, memory
// and the stream, restart offsets, short reads, refused writes and cancellation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "sftp_fake_peer.h"

namespace {

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
            case SSH_FXP_REALPATH:
                return peer.Name(r.id, first);
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

TEST_F(SftpTransferTest, UploadsAreByteExactAndRestartAtTheRemoteSize) {
    const auto bytes = RandomBytes(1048576 * 2 + 4095, 6);
    WriteLocal(Local("up"), bytes);
    ASSERT_EQ(SftpPutFile(s.session, Local("up").c_str(), "/u", 0), 1);
    EXPECT_EQ(server.files["/u"], bytes);

    server.files["/u"].resize(5000);
    ASSERT_EQ(SftpPutFile(s.session, Local("up").c_str(), "/u", 9000000), 1)
        << "an offset beyond the remote size starts at the remote size";
    EXPECT_EQ(server.files["/u"], bytes);

    ASSERT_EQ(SftpPutMemory(s.session, "/m", bytes.data(), 10), 1);
    EXPECT_EQ(server.files["/m"], std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 10));
    ASSERT_EQ(SftpPutMemory(s.session, "/m", nullptr, 0), 1);
    EXPECT_TRUE(server.files["/m"].empty());
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
    ASSERT_EQ(length, 10000u);
    auto* bytes = static_cast<std::uint8_t*>(GlobalLock(memory));
    EXPECT_TRUE(std::equal(bytes, bytes + length, server.files["/f"].begin()));
    GlobalUnlock(memory);
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
