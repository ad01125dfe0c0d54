// The session record behind the SFTP client's handle and the helpers its
// operations share: packets, the request table, status handling, paths, events.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/byte_queue.h"
#include "platform/text_arena.h"
#include "ssh/sftp.h"
#include "ssh/sftp_link.h"
#include "ssh/sftp_wire.h"

constexpr std::uint32_t kSftpFirstRequestId = 256;
// Larger packets are refused as unreadable; no reply this client asks for comes
// near it (data blocks are 32 KiB, directory pages far below).
constexpr std::uint32_t kSftpMaxPacket = 4u * 1024 * 1024;

// A directory read by SftpReadDirectory, kept until the next one: the
// attributes and two text handles per entry, every name and long name in one
// arena, so a long directory costs little more than its texts.
class SftpDirectoryList {
  public:
    void Add(std::string_view name, std::string_view longName, const SftpAttributes& attributes);
    // By name, byte by byte.
    void SortByName();
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    // Forgets every entry and gives the memory back.
    void Clear();

    std::string_view Name(std::size_t index) const { return texts_.View(entries_[index].name); }
    std::string_view LongName(std::size_t index) const {
        return texts_.View(entries_[index].longName);
    }
    const SftpAttributes& Attributes(std::size_t index) const { return entries_[index].attributes; }

  private:
    struct Entry {
        TextArena::Ref name, longName;
        SftpAttributes attributes;
    };
    // A deque grows without moving what it holds.
    std::deque<Entry> entries_;
    TextArena texts_;
};

struct SftpRequest {
    std::uint32_t id = 0;
    bool registered = false;
    // A request whose reply nobody waits for any more (a closed stream's blocks).
    bool abandoned = false;
};

// One received reply: its type, its id and a reader over the fields after the id.
struct SftpReply {
    std::uint8_t type = 0;
    std::uint32_t id = 0;
    std::vector<std::uint8_t> payload;
    SshReader fields{{}};
};

struct SftpBlock {
    std::uint32_t id = 0;
    std::uint64_t offset = 0;
    std::uint32_t length = 0;
    // A download's DATA reply as it came; its bytes [dataAt, dataAt + received)
    // are the block's data.
    std::vector<std::uint8_t> packet;
    std::size_t dataAt = 0;
    std::uint32_t received = 0;
    int state = 0;  // 0 waiting, 1 done, -1 failed or end of file
};

// The phase of a transfer's pipeline; changed only through SetState.
enum class SftpTransferState {
    Reading,   // a download: blocks are requested until the end of the file
    Writing,   // an upload: blocks go out as the data comes
    Draining,  // the end of the file was seen: only the outstanding replies are left
    Failed,    // a request failed: the outstanding replies are collected, nothing more sent
};

struct SftpTransfer {
    std::string handle;
    bool download = true;
    std::uint64_t nextOffset = 0;
    std::uint64_t furthest = 0;
    std::uint64_t endOfFile = UINT64_MAX;
    std::uint64_t outstanding = 0;
    std::uint64_t window = 0;
    std::uint32_t blockSize = 0;
    SftpTransferState state = SftpTransferState::Reading;
    // The first failure's error number and status.
    int failure = 0;
    std::int32_t failureStatus = 0;
    std::deque<SftpBlock> blocks;
    // The reply being read, and the packet buffers of delivered blocks kept for
    // the next ones, so a download neither allocates nor copies a block twice.
    SftpReply reply;
    std::vector<std::vector<std::uint8_t>> spare;

    bool failed() const { return state == SftpTransferState::Failed; }
    bool Done() const;
    std::size_t Waiting() const;
};

struct SftpSession {
    std::unique_ptr<SftpChannelLink> link;
    std::string home;
    std::string current;
    SftpDirectoryList directory;
    long cursor = -1;
    std::atomic<bool> cancel{false};  // set from any thread
    bool smallWindow = false;
    bool closed = false;
    // Bytes per read and write request (the server's stated limits, when it states them).
    std::uint32_t readBlock = 32768;
    std::uint32_t writeBlock = 32768;

    std::unique_ptr<SftpTransfer> stream;
    int streamMode = -1;
    bool replyHeld = false;
    ByteQueue<std::uint8_t> pending;  // the in-order block being read out
    std::uint64_t streamCount = 0;
    SftpTransferRecord streamRecord;

    std::int32_t lastStatus = 0;
    DWORD lastError = 0;
    SftpEventCallback callback = nullptr;
    std::uint16_t eventMask = 0;
    void* clientId = nullptr;
    std::vector<SftpRequest> requests;  // sorted by id
    std::string fingerprint;
    // Texts of SftpGetShellInfo, made at each call.
    std::string serverVersion, algorithms, fingerprintSha256;

    // ---- errors and statuses ----
    // Sets the last error (a fileError number) here and in the thread; returns 0.
    int Fail(int number);
    // Takes a STATUS code: last status and the error its table row names.
    void SetStatus(std::int32_t status);
    // A STATUS reply: true for ok; otherwise fails with the mapped error (end of
    // file included). A reply of another type fails with 12314, status -1.
    bool CheckStatus(SftpReply& reply);
    // A reply of the expected type passes; anything else goes through the status
    // handling and fails.
    bool Expect(SftpReply& reply, std::uint8_t type);

    // ---- packets and requests ----
    std::uint32_t NewRequestId();
    bool SendRequest(SftpWriter& request, std::uint32_t id);
    // The next packet that answers a live request (abandoned replies dropped).
    bool ReceiveReply(SftpReply& reply);
    // Sends a request built with the id that NewRequestId gave and waits for its answer.
    bool Exchange(SftpWriter& request, std::uint32_t id, SftpReply& reply);
    void AbandonRequests(const std::deque<SftpBlock>& blocks);

    // ---- common requests ----
    std::optional<std::string> RealPath(std::string_view path);
    // Canonical path of an argument; nullopt (with 10008) when none can be built.
    std::optional<std::string> Canonical(const char* path);
    bool Stat(const std::string& path, SftpAttributes& attributes);
    bool FStat(const std::string& handle, SftpAttributes& attributes);
    std::optional<std::string> Open(const std::string& path, std::uint32_t flags);
    std::optional<std::string> OpenDirectory(const std::string& path);
    bool CloseHandle(const std::string& handle);
    bool SimpleRequest(std::uint8_t type, const std::string& path);
    bool SetStat(const std::string& path, const SftpAttributes& attributes);

    // ---- events ----
    void Raise(int event, const SftpTransferRecord* record);
};

// The FTP-style reply code and text of a status (-1: internal or protocol error).
int SftpStatusReplyCode(std::int32_t status);
const char* SftpStatusText(std::int32_t status);

// The session of a handle, or null after failing with 10038.
SftpSession* CheckSession(SftpSession* session);
// Result helpers for the flat operations.
int SucceedOp(SftpSession& session);
