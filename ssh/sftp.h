// The SFTP version 3 client: blocking operations on an opaque session whose
// results look like the FTP engine's own (FTP-style reply codes and texts,
// listing lines the FTP listing parser reads, progress through one callback).
// Operations return 1 (or a count) on success and 0 (or -1) on failure; a
// failure sets the session's last error and the thread's last error.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/automation.h"
#include "platform/memory.h"
#include "platform/wintypes.h"
#include "ssh/signer.h"

struct SftpSession;
class SftpChannelLink;

// Events raised through the callback.
enum SftpEvent : int {
    kSftpEventConnected = 1,
    kSftpEventClosed = 2,
    kSftpEventTransferStart = 4,
    kSftpEventTransferEnd = 8,
    kSftpEventStreamRead = 16,
    kSftpEventStreamWrite = 32,
    kSftpEventListingStart = 64,
    kSftpEventListingEnd = 128,
    kSftpEventCanceled = 512,
    kSftpEventProgress = 1024,
};

// Transfer record kinds and directions.
constexpr std::uint32_t kSftpKindDownload = 1;
constexpr std::uint32_t kSftpKindUpload = 2;
constexpr std::uint32_t kSftpKindListing = 4;
constexpr std::uint32_t kSftpDirectionDownload = 1;
constexpr std::uint32_t kSftpDirectionUpload = 2;

struct SftpTransferRecord {
    std::uint32_t kind = 0;
    std::string currentDirectory;
    std::string localFile;  // empty for memory and stream transfers
    std::string remotePath;
    std::uint64_t fileSize = 0;
    std::uint64_t startOffset = 0;
    std::uint64_t bytesCopied = 0;
    std::uint32_t one = 1;
    std::uint32_t direction = 0;
    DWORD startTicks = 0;
    DWORD endTicks = 0;  // 0 until the end
};

using SftpEventCallback = void (*)(SftpSession* session, int event,
                                   const SftpTransferRecord* record, void* clientId);

constexpr std::uint32_t kSftpSecurityInfoSize = 88;

struct SftpSecurityInfo {
    std::uint32_t size = 0;  // at least 88 on the way in
    std::uint32_t protocol = 0;
    std::uint32_t cipher = 0;
    std::uint32_t cipherStrength = 0;
    std::uint32_t hash = 0;
    std::uint32_t hashStrength = 0;
    std::uint32_t keyExchange = 0;
    std::uint32_t reserved = 0;
    const char* fingerprint = nullptr;  // owned by the session
};

// What the secure shell under the session negotiated, as texts owned by the session
// (empty for a session over another link).
struct SftpShellInfo {
    const char* serverVersion = nullptr;  // the server's version line, "SSH-2.0-..."
    // kex,host key,cipher c>s,cipher s>c,MAC c>s,MAC s>c: the wire names in the order
    // of the key-exchange init lists, "" for the MAC of an authenticated cipher.
    const char* algorithms = nullptr;
    const char* fingerprintSha256 = nullptr;  // "SHA256:" and the unpadded Base64 digest
};

struct SftpFileInfo {
    std::string name;  // the canonical path
    std::string owner;
    std::string group;
    std::uint64_t size = 0;
    std::uint32_t valid = 0;
    std::uint32_t permissions = 0;
    bool directory = false;
    SYSTEMTIME date{};
};

// Stream modes of SftpOpenFile.
constexpr int kSftpStreamRead = 0;
constexpr int kSftpStreamWrite = 1;
constexpr int kSftpStreamAppend = 2;

int SftpStartup();
int SftpCleanup();
// The process-wide lock the FTP engine takes around every call. SftpTryLock tries
// every 100 ms for at most one second.
void SftpLock();
bool SftpTryLock();
void SftpUnlock();

// Host-key trust of a connection: the policy (0 off, 1 accept new hosts, 2
// strict) and the user's known_hosts file ("" for ~/.ssh/known_hosts).
struct SftpHostKeyCheck {
    int policy = 0;
    std::string knownHostsFile;
};
// What the check found (0 not checked, 1 known, 2 added, 3 unknown, 4 changed,
// 5 revoked, 6 not verifiable) and its text, also after a failed connect.
struct SftpHostKeyOutcome {
    int status = 0;
    std::string text;
};

// Public-key login of a connection: keys already loaded (tried after the agent's),
// and the agent at agentSocket when useAgent is set.
struct SftpLoginKeys {
    std::vector<std::shared_ptr<SshSigner>> keys;
    bool useAgent = false;
    std::string agentSocket;
};

// A new session, or null with the error code in *error. secureProtocol is the
// control's SecureProtocol value. Without hostKeys the host key is not checked.
SftpSession* SftpConnect(const char* host, int port, const char* user, const char* password,
                         int timeoutSeconds, DWORD options, int secureProtocol, DWORD* error,
                         const SftpHostKeyCheck* hostKeys = nullptr,
                         SftpHostKeyOutcome* outcome = nullptr,
                         const SftpLoginKeys* login = nullptr);
// Starts the protocol over a stream already running (tests use in-memory peers).
SftpSession* SftpConnectOver(std::unique_ptr<SftpChannelLink> link, DWORD* error);
int SftpSetEventHandler(SftpSession* session, SftpEventCallback callback, void* clientId);
int SftpDisconnect(SftpSession* session);
int SftpCancel(SftpSession* session);
DWORD SftpGetLastError(SftpSession* session);
int SftpGetResultCode(SftpSession* session);
int SftpGetResultString(SftpSession* session, char* buffer, int length);
// The session's last SFTP status (-1 for an internal or protocol error).
int SftpGetLastStatus(SftpSession* session);

const char* SftpGetCurrentDirectory(SftpSession* session);
int SftpChangeDirectory(SftpSession* session, const char* path);
int SftpMakeDirectory(SftpSession* session, const char* path);
int SftpRemoveDirectory(SftpSession* session, const char* path);
int SftpDeleteFile(SftpSession* session, const char* path);
int SftpRenameFile(SftpSession* session, const char* oldPath, const char* newPath);
int SftpGetFileSize(SftpSession* session, const char* path, std::uint64_t* size);
int SftpGetFileTime(SftpSession* session, const char* path, SYSTEMTIME* time, bool local);
// Times are UTC (local with SftpGetFileTime's local set); SftpGetFileStatus's
// date is UTC.
int SftpSetFileTime(SftpSession* session, const char* path, const SYSTEMTIME* utcTime);
int SftpGetFilePermissions(SftpSession* session, const char* path, DWORD* permissions);
int SftpSetFilePermissions(SftpSession* session, const char* path, DWORD permissions);
int SftpGetFileStatus(SftpSession* session, const char* path, SftpFileInfo* info);

// append: the download goes after the local file's end (created when missing)
// and reads the remote file from its start; the upload opens the remote file
// with APPEND and writes from its size on. startOffset is ignored then.
int SftpGetFile(SftpSession* session, const char* localFile, const char* remoteFile,
                std::uint64_t startOffset, bool append = false);
int SftpGetFileToMemory(SftpSession* session, const char* remoteFile, HGLOBAL* memory,
                        std::uint64_t* length, std::uint64_t largest);
int SftpPutFile(SftpSession* session, const char* localFile, const char* remoteFile,
                std::uint64_t startOffset, bool append = false);
int SftpPutMemory(SftpSession* session, const char* remoteFile, const void* buffer,
                  std::uint64_t length);

int SftpOpenFile(SftpSession* session, const char* remoteFile, int mode, std::uint64_t offset);
long SftpRead(SftpSession* session, void* buffer, long length);
long SftpWrite(SftpSession* session, const void* buffer, long length);
int SftpIsEndOfData(SftpSession* session);
int SftpCloseFile(SftpSession* session);

int SftpReadDirectory(SftpSession* session, const char* pathOrMask);
int SftpGetDirectoryPosition(SftpSession* session, long* count, long* next);
int SftpGetNextListingLine(SftpSession* session, char* line);  // room for 1024
int SftpGetNameList(SftpSession* session, const char* path, DWORD flags, char* buffer, long size);
int SftpFreeDirectory(SftpSession* session);

int SftpGetSecurityInfo(SftpSession* session, SftpSecurityInfo* info);
int SftpGetShellInfo(SftpSession* session, SftpShellInfo* info);
long SftpGetSocket(SftpSession* session);
