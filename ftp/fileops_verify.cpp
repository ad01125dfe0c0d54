// Verification of a transfer: the local file against the remote one by MD5
// (XMD5), CRC-32 (XCRC) or size, the first method that both the caller's bits
// and the server allow.
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <span>
#include <string>

#include "crypto/md5.h"
#include "ftp/engine.h"
#include "ftp/fileops.h"
#include "ftp/fileops_internal.h"
#include "ftp/protocol_ops.h"
#include "platform/file.h"
#include "resources/errors.h"

namespace ftp {
namespace {

constexpr std::size_t kReadBlockSize = 8192;
constexpr std::size_t kDigestReplyMax = 63;

int LocalFileError(int systemError) {
    bool missing = systemError == platform::kFileErrorNotFound ||
                   systemError == platform::kFileErrorPathNotFound;
    return missing ? fileErrorFileNotFound : fileErrorAccessDenied;
}

// Feeds the whole file to the consumer in blocks; 0 or the error number.
int ReadLocalFile(const char* path, const std::function<void(std::span<const std::uint8_t>)>& eat) {
    platform::LocalFile file;
    if (int error =
            file.Open(path, platform::FileAccess::Read, platform::FileDisposition::OpenExisting)) {
        return LocalFileError(error);
    }
    std::array<std::uint8_t, kReadBlockSize> block{};
    for (;;) {
        std::int64_t got = file.Read(block.data(), block.size());
        if (got < 0) return LocalFileError(file.error());
        if (got == 0) return 0;
        eat(std::span<const std::uint8_t>(block.data(), static_cast<std::size_t>(got)));
    }
}

int LocalMd5(const char* path, std::string& hex) {
    Md5State state;
    Md5Init(state);
    int error = ReadLocalFile(path, [&](std::span<const std::uint8_t> bytes) {
        Md5Update(state, bytes.data(), bytes.size());
    });
    std::uint8_t digest[kMd5DigestLength];
    Md5Final(state, digest);
    if (error) return error;
    char text[2 * kMd5DigestLength + 1];
    for (std::size_t i = 0; i < kMd5DigestLength; ++i)
        std::snprintf(text + 2 * i, 3, "%02X", digest[i]);
    hex = text;
    return 0;
}

int LocalCrc32(const char* path, std::string& hex) {
    uLong crc = crc32(0L, Z_NULL, 0);
    int error = ReadLocalFile(path, [&](std::span<const std::uint8_t> bytes) {
        crc = crc32(crc, bytes.data(), static_cast<uInt>(bytes.size()));
    });
    if (error) return error;
    char text[16];
    std::snprintf(text, sizeof text, "%lX", static_cast<unsigned long>(crc));
    hex = text;
    return 0;
}

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameDigest(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Upper(x) == Upper(y); });
}

// Servers write a CRC-32 with or without leading zeros.
bool SameCrc(std::string_view local, std::string_view remote) {
    while (remote.size() > local.size() && remote.front() == '0')
        remote.remove_prefix(1);
    return SameDigest(local, remote);
}

// The digest of an XMD5/XCRC reply: the first word of its last line (servers
// may put a line such as "Computing MD5 digest" before it).
std::string_view ReplyDigest(std::string_view text) {
    std::size_t lastLine = text.rfind('\n');
    if (lastLine != std::string_view::npos) text.remove_prefix(lastLine + 1);
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    text = text.substr(0, kDigestReplyMax);
    return text.substr(0, text.find(' '));
}

struct ChecksumMethod {
    std::string_view command;
    std::uint32_t feature;
    int (*compute)(const char* path, std::string& hex);
    bool (*same)(std::string_view local, std::string_view remote);
};

constexpr ChecksumMethod kMd5Method{"XMD5", kFeatureXmd5, LocalMd5, SameDigest};
constexpr ChecksumMethod kCrcMethod{"XCRC", kFeatureXcrc, LocalCrc32, SameCrc};

int FailFlag(int error) {
    Fail(error);
    return 0;
}

int VerifyByChecksum(FtpSession& session, const ChecksumMethod& method, const char* local,
                     const char* remote) {
    std::string localDigest;
    if (int error = method.compute(local, localDigest)) return FailFlag(error);
    Exchange reply = RunCommand(session, method.command, remote);
    if (!reply.positive()) {
        if (LearnFeature(session, reply, method.feature))
            return FailFlag(fileErrorFeatureNotSupported);
        if (reply.ok()) return FailFlag(fileErrorUnexpectedServerResponse);
        return 0;
    }
    std::string_view remoteDigest = ReplyDigest(session.replyText.view());
    if (remoteDigest.empty() || !method.same(localDigest, remoteDigest))
        return FailFlag(fileErrorFileChecksumMismatch);
    return 1;
}

int VerifyBySize(FtpClient client, const char* local, const char* remote) {
    int systemError = 0;
    std::int64_t localSize = platform::FileSizeOf(local, &systemError);
    if (localSize < 0) return FailFlag(LocalFileError(systemError));
    int64_t remoteSize = 0;
    if (FtpGetFileSize64(client, remote, &remoteSize) < 0) return 0;
    if (remoteSize != localSize) return FailFlag(fileErrorFileSizeMismatch);
    return 1;
}

}  // namespace
}  // namespace ftp

using namespace ftp;

extern "C" {

int FtpVerifyFile(FtpClient client, const char* localFile, const char* remoteFile, DWORD verify) {
    SessionRef session = LookupSession(client);
    if (!session) return 0;
    if (!localFile || !*localFile || !remoteFile || !*remoteFile)
        return FailFlag(fileErrorInvalidParameter);
    DWORD bits = verify == FTP_VERIFY_DEFAULT ? FTP_VERIFY_ALL : verify;
    bits &= session->ops->verifyMethods;
    if ((bits & FTP_VERIFY_MD5) && HasFeature(*session, kFeatureXmd5))
        return VerifyByChecksum(*session, kMd5Method, localFile, remoteFile);
    if ((bits & FTP_VERIFY_CRC32) && HasFeature(*session, kFeatureXcrc))
        return VerifyByChecksum(*session, kCrcMethod, localFile, remoteFile);
    if (bits & FTP_VERIFY_SIZE) return VerifyBySize(client, localFile, remoteFile);
    return FailFlag(fileErrorOperationNotSupported);
}

}  // extern "C"
