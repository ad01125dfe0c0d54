#include "ftp/file_size.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <string>

#include "ftp/command_channel.h"
#include "ftp/engine.h"
#include "ftp/fileops.h"
#include "ftp/ftp_ops.h"
#include "platform/text.h"
#include "resources/errors.h"

namespace ftp {
namespace {

constexpr std::string_view kSizeRefusedInAscii = "SIZE not allowed in ASCII mode";

constexpr int kTryStatus = -2;
constexpr int kStatusReplyCode = 213;

// The size from the file's status (MLST or a status listing).
int SizeFromStatus(FtpSession& session, std::string_view name, std::uint64_t& size) {
    FtpDirectoryEntry entry{};
    std::string text(name);
    if (!FtpGetFileInfo(session.handle, text.c_str(), &entry)) return -1;
    size = entry.size;
    return kStatusReplyCode;
}

int SizeRefused(FtpSession& session, const Exchange& reply) {
    if (EqualsIgnoringCase(session.replyText.view(), kSizeRefusedInAscii)) {
        return Fail(fileErrorOperationNotSupported);
    }
    if (reply.code == 550) return Fail(fileErrorFileNotFound);
    if (reply.code >= 500 && reply.code <= 504) {
        session.features &= ~static_cast<std::uint32_t>(kFeatureSize);
        return kTryStatus;
    }
    return reply.ok() ? Fail(fileErrorInvalidServerResponse) : -1;
}

}  // namespace

bool ParseSizeReply(std::string_view text, std::uint64_t& size) {
    std::size_t semicolon = text.find(';');
    if (semicolon != std::string_view::npos) text.remove_prefix(semicolon + 1);
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    if (text.empty()) return false;
    std::uint64_t value = 0;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (kMax - digit) / 10) return false;
        value = value * 10 + digit;
    }
    size = value;
    return true;
}

bool ParseOpeningReplySize(std::string_view text, std::uint64_t& size) {
    const std::size_t open = text.rfind('(');
    if (open == std::string_view::npos) return false;
    text.remove_prefix(open + 1);
    const std::size_t blank = text.find(' ');
    if (blank == 0 || blank == std::string_view::npos) return false;
    std::string_view unit = text.substr(blank + 1);
    constexpr std::string_view kUnit = "bytes)";
    if (unit.size() < kUnit.size() || !EqualsIgnoringCase(unit.substr(0, kUnit.size()), kUnit)) {
        return false;
    }
    return ParseSizeReply(text.substr(0, blank), size);
}

int QueryRemoteFileSize(FtpSession& session, std::string_view name, std::uint64_t& size) {
    size = 0;
    if (name.empty()) return Fail(fileErrorInvalidFileName);
    return session.ops->fileSize(session, name, size);
}

int ftpops::FileSize(FtpSession& session, std::string_view name, std::uint64_t& size) {
    if ((session.features & kFeatureSize) == 0) return SizeFromStatus(session, name, size);
    if (session.autoFileType && session.fileType != FTP_FILE_TYPE_IMAGE) {
        if (RunCommand(session, "TYPE", "I").positive()) session.fileType = FTP_FILE_TYPE_IMAGE;
    }
    Exchange reply = RunCommand(session, "SIZE", name);
    if (!reply.positive()) {
        int refused = SizeRefused(session, reply);
        return refused == kTryStatus ? SizeFromStatus(session, name, size) : refused;
    }
    if (!ParseSizeReply(session.replyText.view(), size)) {
        size = 0;
        return Fail(fileErrorInvalidServerResponse);
    }
    session.transfer.announcedSize = size;
    return reply.code;
}

}  // namespace ftp

using namespace ftp;

extern "C" {

int FtpGetFileSize64(FtpClient client, const char* fileName, int64_t* size) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    if (!size) return Fail(fileErrorInvalidParameter);
    std::uint64_t value = 0;
    int result = QueryRemoteFileSize(*session, fileName ? fileName : "", value);
    *size = static_cast<int64_t>(value);
    return result;
}

int FtpGetFileSize(FtpClient client, const char* fileName, DWORD* size) {
    if (!size) return Fail(fileErrorInvalidParameter);
    int64_t size64 = 0;
    int result = FtpGetFileSize64(client, fileName, &size64);
    *size = static_cast<DWORD>(size64);
    return result;
}

}  // extern "C"
