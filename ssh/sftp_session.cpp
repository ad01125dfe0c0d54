#include "ssh/sftp_session.h"

#include <algorithm>

#include "platform/lasterror.h"
#include "resources/errors.h"

namespace {

struct StatusRow {
    std::int32_t status;
    int error;
    int code;
    const char* text;
};

constexpr StatusRow kStatusRows[] = {
    {0, 0, 200, "Command okay"},
    {1, fileErrorEndOfFile, 226, "Closing data connection"},
    {2, fileErrorFileNotFound, 550, "File not found"},
    {3, fileErrorAccessDenied, 550, "Access denied"},
    {4, fileErrorServerTransactionFailed, 500, "General failure"},
    {5, fileErrorInvalidServerResponse, 503, "Invalid response from server"},
    {6, fileErrorNotConnected, 530, "Connection closed"},
    {7, fileErrorConnectionAborted, 530, "Connection aborted"},
    {8, fileErrorOperationNotSupported, 502, "Unrecognized command"},
};
constexpr StatusRow kUnknownStatus{-1, fileErrorUnexpectedServerResponse, 502,
                                   "Unrecognized command"};

const StatusRow& RowOf(std::int32_t status) {
    for (const StatusRow& row : kStatusRows) {
        if (row.status == status) return row;
    }
    return kUnknownStatus;
}

}  // namespace

const char* SftpStatusText(std::int32_t status) {
    return RowOf(status).text;
}

int SftpStatusReplyCode(std::int32_t status) {
    return RowOf(status).code;
}

// ---- transfer object ---------------------------------------------------------------

std::size_t SftpTransfer::Waiting() const {
    return static_cast<std::size_t>(std::count_if(blocks.begin(), blocks.end(),
                                                  [](const SftpBlock& b) { return b.state == 0; }));
}

bool SftpTransfer::Done() const {
    return state != SftpTransferState::Reading && Waiting() == 0;
}

// ---- errors and statuses -------------------------------------------------------------

int SftpSession::Fail(int number) {
    lastError = number != 0 ? MakeErrorCode(number) : 0;
    SetLastError(lastError);
    return 0;
}

void SftpSession::SetStatus(std::int32_t status) {
    lastStatus = status;
    Fail(RowOf(status).error);
}

bool SftpSession::CheckStatus(SftpReply& reply) {
    std::uint32_t code = 0;
    if (reply.type != SSH_FXP_STATUS || !reply.fields.ReadUint32(&code)) {
        lastStatus = -1;
        Fail(fileErrorInvalidPacketData);
        return false;
    }
    SetStatus(static_cast<std::int32_t>(code));
    return code == 0;
}

bool SftpSession::Expect(SftpReply& reply, std::uint8_t type) {
    if (reply.type == type) return true;
    // A status of ok where data was expected is still no answer.
    if (CheckStatus(reply)) Fail(fileErrorUnexpectedServerResponse);
    return false;
}

// ---- packets and requests -------------------------------------------------------------

std::uint32_t SftpSession::NewRequestId() {
    std::uint32_t id = kSftpFirstRequestId;
    auto it = requests.begin();
    while (it != requests.end() && it->id <= id) {
        if (it->id == id) ++id;
        ++it;
    }
    requests.insert(it, SftpRequest{id, false, false});
    return id;
}

bool SftpSession::SendRequest(SftpWriter& request, std::uint32_t id) {
    if (closed) {
        lastStatus = -1;
        return Fail(fileErrorNotConnected);
    }
    if (!link->Send(request.Finish())) {
        const int error = link->error();
        lastStatus = -1;
        return Fail(error != 0 ? error : fileErrorNotConnected);
    }
    auto it =
        std::lower_bound(requests.begin(), requests.end(), id,
                         [](const SftpRequest& r, std::uint32_t value) { return r.id < value; });
    if (it != requests.end() && it->id == id) it->registered = true;
    return true;
}

namespace {

// Reads one whole packet; 0-length packets are dropped as unreadable.
bool ReadPacket(SftpSession& session, std::vector<std::uint8_t>& payload) {
    for (;;) {
        std::uint8_t prefix[4];
        if (!session.link->ReadExactly(prefix)) break;
        const std::uint32_t length = LoadBe32(prefix);
        if (length > kSftpMaxPacket) {
            session.closed = true;  // the stream cannot be resynchronised
            session.lastStatus = -1;
            session.Fail(fileErrorInvalidPacketSize);
            return false;
        }
        payload.resize(length);
        if (!session.link->ReadExactly(payload)) break;
        if (length > 0) return true;
    }
    // A reply that did not come (or came in part) leaves the stream out of step:
    // the session is over.
    const int error = session.closed ? 0 : session.link->error();
    session.closed = true;
    session.lastStatus = -1;
    session.Fail(error != 0 ? error : fileErrorNotConnected);
    return false;
}

}  // namespace

bool SftpSession::ReceiveReply(SftpReply& reply) {
    for (;;) {
        if (!ReadPacket(*this, reply.payload)) return false;
        reply.fields = SshReader(reply.payload);
        if (!reply.fields.ReadByte(&reply.type) || !reply.fields.ReadUint32(&reply.id)) {
            lastStatus = -1;
            return Fail(fileErrorInvalidPacketData);
        }
        auto it = std::lower_bound(
            requests.begin(), requests.end(), reply.id,
            [](const SftpRequest& r, std::uint32_t value) { return r.id < value; });
        if (it == requests.end() || it->id != reply.id || !it->registered) {
            lastStatus = -1;
            return Fail(fileErrorInvalidPacketId);
        }
        const bool abandoned = it->abandoned;
        requests.erase(it);
        if (!abandoned) return true;
    }
}

bool SftpSession::Exchange(SftpWriter& request, std::uint32_t id, SftpReply& reply) {
    if (!SendRequest(request, id)) {
        requests.erase(std::remove_if(requests.begin(), requests.end(),
                                      [id](const SftpRequest& r) { return r.id == id; }),
                       requests.end());
        return false;
    }
    const bool received = ReceiveReply(reply);
    if (received && reply.id == id) return true;
    if (received) {
        lastStatus = -1;
        Fail(fileErrorInvalidPacketId);
    }
    // A reply that still comes for this request is dropped when it arrives.
    for (SftpRequest& request : requests) {
        if (request.id == id) request.abandoned = true;
    }
    return false;
}

void SftpSession::AbandonRequests(const std::deque<SftpBlock>& blocks) {
    for (const SftpBlock& block : blocks) {
        if (block.state != 0) continue;
        for (SftpRequest& request : requests) {
            if (request.id == block.id) request.abandoned = true;
        }
    }
}

// ---- common requests ----------------------------------------------------------------

std::optional<std::string> SftpSession::RealPath(std::string_view path) {
    const std::uint32_t id = NewRequestId();
    SftpWriter request(SSH_FXP_REALPATH);
    request.Uint32(id).String(path);
    SftpReply reply;
    if (!Exchange(request, id, reply) || !Expect(reply, SSH_FXP_NAME)) return std::nullopt;
    std::uint32_t count = 0;
    std::string_view name;
    if (!reply.fields.ReadUint32(&count)) {
        Fail(fileErrorInvalidServerResponse);
        return std::nullopt;
    }
    if (count != 1) {
        Fail(fileErrorUnexpectedServerResponse);
        return std::nullopt;
    }
    std::string_view longName;
    SftpAttributes attributes;
    if (!reply.fields.ReadString(&name) || !reply.fields.ReadString(&longName) ||
        !ReadSftpAttributes(reply.fields, attributes) || !reply.fields.Finish()) {
        Fail(fileErrorInvalidServerResponse);
        return std::nullopt;
    }
    SetStatus(0);
    return std::string(name);
}

namespace {

std::string WithSlash(std::string path) {
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

std::string FullPath(const SftpSession& session, std::string_view path) {
    if (path.front() == '/') return std::string(path);
    if (path.starts_with("~/")) return WithSlash(session.home) + std::string(path.substr(2));
    return WithSlash(session.current) + std::string(path);
}

}  // namespace

std::optional<std::string> SftpSession::Canonical(const char* path) {
    if (!path || path[0] == '\0') {
        Fail(fileErrorInvalidFileName);
        return std::nullopt;
    }
    const std::string full = FullPath(*this, path);
    if (auto resolved = RealPath(full)) return resolved;
    if (closed) return std::nullopt;
    std::string trimmed = full;
    if (trimmed.size() > 2 && trimmed.back() == '/') trimmed.pop_back();
    const std::size_t slash = trimmed.rfind('/');
    if (slash == std::string::npos || trimmed == "/") return full;
    const std::string last = trimmed.substr(slash + 1);
    if (last == "." || last == "..") return full;
    const std::string parent = slash == 0 ? "/" : trimmed.substr(0, slash);
    if (auto resolved = RealPath(parent)) return WithSlash(*resolved) + last;
    if (closed) return std::nullopt;
    return full;
}

bool SftpSession::Stat(const std::string& path, SftpAttributes& attributes) {
    const std::uint32_t id = NewRequestId();
    SftpWriter request(SSH_FXP_STAT);
    request.Uint32(id).String(path);
    SftpReply reply;
    if (!Exchange(request, id, reply)) return false;
    if (reply.type != SSH_FXP_ATTRS) {
        lastStatus = -1;
        return Fail(fileErrorFileNotFound);
    }
    if (!ReadSftpAttributes(reply.fields, attributes) || !reply.fields.Finish())
        return Fail(fileErrorInvalidServerResponse);
    SetStatus(0);
    return true;
}

bool SftpSession::FStat(const std::string& handle, SftpAttributes& attributes) {
    const std::uint32_t id = NewRequestId();
    SftpWriter request(SSH_FXP_FSTAT);
    request.Uint32(id).String(handle);
    SftpReply reply;
    if (!Exchange(request, id, reply) || !Expect(reply, SSH_FXP_ATTRS)) return false;
    if (!ReadSftpAttributes(reply.fields, attributes) || !reply.fields.Finish())
        return Fail(fileErrorInvalidServerResponse);
    SetStatus(0);
    return true;
}

namespace {

std::optional<std::string> ReadHandle(SftpSession& session, SftpReply& reply) {
    if (!session.Expect(reply, SSH_FXP_HANDLE)) return std::nullopt;
    std::string_view handle;
    if (!reply.fields.ReadString(&handle) || !reply.fields.Finish()) {
        session.Fail(fileErrorInvalidServerResponse);
        return std::nullopt;
    }
    session.SetStatus(0);
    return std::string(handle);
}

}  // namespace

std::optional<std::string> SftpSession::Open(const std::string& path, std::uint32_t flags) {
    const std::uint32_t id = NewRequestId();
    SftpWriter request(SSH_FXP_OPEN);
    request.Uint32(id).String(path).Uint32(flags).Attributes({});
    SftpReply reply;
    if (!Exchange(request, id, reply)) return std::nullopt;
    return ReadHandle(*this, reply);
}

std::optional<std::string> SftpSession::OpenDirectory(const std::string& path) {
    const std::uint32_t id = NewRequestId();
    SftpWriter request(SSH_FXP_OPENDIR);
    request.Uint32(id).String(path);
    SftpReply reply;
    if (!Exchange(request, id, reply)) return std::nullopt;
    return ReadHandle(*this, reply);
}

bool SftpSession::CloseHandle(const std::string& handle) {
    const std::uint32_t id = NewRequestId();
    SftpWriter request(SSH_FXP_CLOSE);
    request.Uint32(id).String(handle);
    SftpReply reply;
    return Exchange(request, id, reply) && CheckStatus(reply);
}

bool SftpSession::SimpleRequest(std::uint8_t type, const std::string& path) {
    const std::uint32_t id = NewRequestId();
    SftpWriter request(type);
    request.Uint32(id).String(path);
    if (type == SSH_FXP_MKDIR) request.Attributes({});
    SftpReply reply;
    return Exchange(request, id, reply) && CheckStatus(reply);
}

bool SftpSession::SetStat(const std::string& path, const SftpAttributes& attributes) {
    const std::uint32_t id = NewRequestId();
    SftpWriter request(SSH_FXP_SETSTAT);
    request.Uint32(id).String(path).Attributes(attributes);
    SftpReply reply;
    return Exchange(request, id, reply) && CheckStatus(reply);
}

void SftpSession::Raise(int event, const SftpTransferRecord* record) {
    if (callback && (eventMask & event) != 0) callback(this, event, record, clientId);
}

SftpSession* CheckSession(SftpSession* session) {
    if (!session) {
        SetLastError(MakeErrorCode(fileErrorInvalidHandle));
        return nullptr;
    }
    return session;
}

int SucceedOp(SftpSession& session) {
    session.Fail(0);
    return 1;
}
