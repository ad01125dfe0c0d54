// The FTP engine: sessions over integer client handles, the command channel and
// its replies, FTP proxies, settings and host-window notifications.
//
// Every operation runs on the calling thread and blocks it (pumping its window
// messages) until done. Failures return -1 (or 0 for flag results) and set the
// thread's last error, 0x80040000 | error number; nothing throws. A handle
// belongs to the thread that made it unless the session is free-threaded.
#pragma once

#include <stdint.h>

#include "net/net.h"
#include "platform/api.h"
#ifdef __cplusplus
#include "platform/messages.h"
#include "platform/wintypes.h"
#endif
#include "tls/tls.h"

FT_EXTERN_C_BEGIN

typedef int64_t FtpClient;
#define INVALID_CLIENT ((FtpClient)-1)

// Fixed text capacities, terminator included.
#define FTP_MAX_HOSTNAME 128
#define FTP_MAX_USERNAME 128
#define FTP_MAX_PASSWORD 128
#define FTP_MAX_ACCOUNT 128
#define FTP_MAX_PATH 512
#define FTP_MAX_REPLY 8192
#define FTP_MAX_COMMAND 2048

#define FTP_LIBRARY_INFO_SIZE 168
#define FTP_NOTIFY_MESSAGE 2025
#define FTP_ASYNC_MESSAGE 9215

// Connect options.
#define FTP_OPTION_PASSIVE 0x1
#define FTP_OPTION_FIREWALL_ADDRESS 0x2
#define FTP_OPTION_NOAUTH 0x4
#define FTP_OPTION_KEEPALIVE 0x8
#define FTP_OPTION_VIRTUALHOST 0x200
#define FTP_OPTION_VERIFY 0x400
#define FTP_OPTION_SECURE 0x1000
#define FTP_OPTION_SECURE_EXPLICIT 0x2000
#define FTP_OPTION_SECURE_SHELL 0x4000
// With FTP_OPTION_SECURE_SHELL: the SSH connection prefers zlib compression.
#define FTP_OPTION_SSH_COMPRESSION 0x8000
#define FTP_OPTION_FIREWALL 0x10000
#define FTP_OPTION_KEEPALIVE_DATA 0x20000
#define FTP_OPTION_IPV6_ONLY 0x40000
#define FTP_OPTION_FREETHREAD 0x80000
#define FTP_OPTION_INTERNAL 0x10000000
// Connect only: the caller sends PWD itself as its first command (the engine's
// own PWD after the login is then left out), and sets the transfer type itself
// at once (the engine's TYPE I is left out). Neither stays in the session.
#define FTP_OPTION_CALLER_PWD 0x20000000
#define FTP_OPTION_CALLER_TYPE 0x40000000

// Notification events (the bits of the event mask).
#define FTP_EVENT_CONNECT 1
#define FTP_EVENT_DISCONNECT 2
#define FTP_EVENT_OPENDATA 4
#define FTP_EVENT_CLOSEDATA 8
#define FTP_EVENT_READ 16
#define FTP_EVENT_WRITE 32
#define FTP_EVENT_TIMEOUT 64
#define FTP_EVENT_CANCEL 128
#define FTP_EVENT_COMMAND 256
#define FTP_EVENT_PROGRESS 512
#define FTP_EVENT_GETFILE 1024
#define FTP_EVENT_PUTFILE 2048
#define FTP_EVENT_ALL 0xFFFFFFFFu

// Proxy kinds of FtpProxyConnect.
#define FTP_PROXY_NONE 0
#define FTP_PROXY_USER 1
#define FTP_PROXY_LOGIN 2
#define FTP_PROXY_OPEN 3
#define FTP_PROXY_SITE 4
#define FTP_PROXY_OTHER 255

// File types of FtpSetFileType.
#define FTP_FILE_TYPE_AUTO 0
#define FTP_FILE_TYPE_ASCII 1
#define FTP_FILE_TYPE_EBCDIC 2
#define FTP_FILE_TYPE_IMAGE 3

// Flags of FtpGetFile and FtpPutFile.
#define FTP_TRANSFER_APPEND 0x1  // append to the local file (get) or with APPE (put)
#define FTP_TRANSFER_VERIFY 0x2  // compare the sizes after a binary transfer
#define FTP_TRANSFER_UNIQUE 0x4  // put with STOU: the server chooses a unique name

// Modes of FtpBeginTransfer.
#define FTP_MODE_RETRIEVE 0
#define FTP_MODE_STORE 1
#define FTP_MODE_APPEND 2
#define FTP_MODE_STORE_UNIQUE 3

// Channels and modes of FtpGetChannelMode/FtpSetChannelMode.
#define FTP_CHANNEL_COMMAND 0
#define FTP_CHANNEL_DATA 1
#define FTP_CHANNEL_CLEAR 0
#define FTP_CHANNEL_SECURE 1

// System types of FtpGetSystemType.
#define FTP_SYSTEM_UNKNOWN 0
#define FTP_SYSTEM_UNIX 1
#define FTP_SYSTEM_MSDOS 2
#define FTP_SYSTEM_WINDOWS 3
#define FTP_SYSTEM_VMS 4
#define FTP_SYSTEM_NETWARE 5

// Engine statuses.
#define FTP_STATUS_IDLE 1
#define FTP_STATUS_CONNECTING 2
#define FTP_STATUS_RECEIVING 3
#define FTP_STATUS_SENDING 4
#define FTP_STATUS_DISCONNECTING 5
#define FTP_STATUS_OPENDATA 6
#define FTP_STATUS_CLOSEDATA 7
#define FTP_STATUS_GETFILE 8
#define FTP_STATUS_PUTFILE 9
#define FTP_STATUS_LISTING 10

typedef struct FtpLibraryInfo {
    uint32_t size;  // must be 168
    uint32_t majorVersion;
    uint32_t minorVersion;
    uint32_t build;
    uint32_t reserved0;
    uint64_t reserved1;
    NetStartupData* startupData;  // the socket runtime's start-up record
    char description[128];
} FtpLibraryInfo;

// The last reply of a session.
typedef struct FtpReply {
    int32_t code;
    char text[FTP_MAX_REPLY];
} FtpReply;

// Progress of the current or last transfer.
typedef struct FtpTransferStatus {
    uint64_t totalBytes;
    uint64_t bytesCopied;
    uint32_t bytesPerSecond;
    uint32_t elapsedSeconds;
    uint32_t secondsRemaining;
    char localFile[FTP_MAX_PATH];
    char remoteFile[FTP_MAX_PATH];
} FtpTransferStatus;

// What the secure shell of an sftp:// session negotiated. The texts belong to the
// session and stay until the next call or the disconnect; all empty for other sessions.
typedef struct FtpShellInfo {
    const char* serverVersion;      // the server's version line, "SSH-2.0-..."
    const char* algorithms;         // kex,host key,cipher c>s,cipher s>c,MAC c>s,MAC s>c
    const char* fingerprintSha256;  // "SHA256:" and the unpadded Base64 digest
} FtpShellInfo;

// ---- Library ----------------------------------------------------------------------

FT_API int FtpInitialize(FtpLibraryInfo* info);
FT_API void FtpUninitialize(void);
FT_API DWORD FtpGetLastError(void);
FT_API void FtpSetLastError(DWORD error);
// The message text of an error (0: the last error) into buffer (at least 128
// characters; null uses an internal buffer). The length, 0 when there is none.
FT_API int FtpGetErrorString(DWORD error, char* buffer);

// ---- Connections ------------------------------------------------------------------

FT_API FtpClient FtpConnect(const char* hostOrUrl, int port, const char* user, const char* password,
                            int timeoutSeconds, DWORD options, const TlsCredentials* credentials);
FT_API FtpClient FtpProxyConnect(int proxyType, const char* proxyHost, int proxyPort,
                                 const char* proxyUser, const char* proxyPassword,
                                 const char* serverHost, int timeoutSeconds, DWORD options,
                                 const TlsCredentials* credentials);
FT_API int FtpLogin(FtpClient client, const char* user, const char* password, const char* account);
// Host-key trust for the secure-shell connections the calling thread opens from
// now on: policy 0 off (the default), 1 records unknown hosts and refuses changed
// keys, 2 refuses both; knownHostsFile null or "" for ~/.ssh/known_hosts. Clears
// the outcome FtpGetHostKeyStatus reads. 0, or -1 for a policy out of range.
FT_API int FtpSetHostKeyPolicy(int policy, const char* knownHostsFile);
// The host-key check of the calling thread's last secure-shell connect, also when
// it failed: 0 not checked, 1 known, 2 added, 3 unknown, 4 changed, 5 revoked, 6 not
// verifiable; its text goes into buffer (size bytes with the terminator) when given.
FT_API int FtpGetHostKeyStatus(char* buffer, int size);
FT_API int FtpDisconnect(FtpClient client);
FT_API int FtpReconnect(FtpClient client);
FT_API int FtpCancel(FtpClient client);

// ---- Commands and replies ---------------------------------------------------------

FT_API int FtpCommand(FtpClient client, const char* command, const char* argument);
FT_API int FtpGetResultCode(FtpClient client);
FT_API int FtpGetResultString(FtpClient client, char* buffer, int size);
FT_API int FtpGetSystemName(FtpClient client, char* buffer);
FT_API int FtpGetSystemType(FtpClient client);
FT_API DWORD FtpGetServerFeatures(FtpClient client);
FT_API int FtpGetCurrentDirectory(FtpClient client, char* buffer, int size);
FT_API int FtpChangeDirectory(FtpClient client, const char* path);

// ---- Settings -----------------------------------------------------------------------

FT_API DWORD FtpGetFeatures(FtpClient client);
FT_API DWORD FtpSetFeatures(FtpClient client, DWORD features);
FT_API int FtpSetFileType(FtpClient client, int fileType);
FT_API int FtpSetPassiveMode(FtpClient client, BOOL passive);
FT_API int FtpGetChannelMode(FtpClient client, int channel);
FT_API int FtpSetChannelMode(FtpClient client, int channel, int mode);
FT_API int FtpGetActivePorts(FtpClient client, int* lowPort, int* highPort);
FT_API int FtpSetActivePorts(FtpClient client, int lowPort, int highPort);
FT_API int FtpGetPriority(FtpClient client);
FT_API int FtpSetPriority(FtpClient client, int priority);
FT_API int FtpGetDirectoryFormat(FtpClient client);
FT_API int FtpSetDirectoryFormat(FtpClient client, int format);
FT_API int FtpGetLocalAddress(FtpClient client, int family, NetAddress* address);
FT_API int FtpGetSecurityInfo(FtpClient client, SecurityInfo* info);
// 1 or 0 (the error set).
FT_API int FtpGetShellInfo(FtpClient client, FtpShellInfo* info);
FT_API int FtpGetTransferStatus(FtpClient client, FtpTransferStatus* status);

// ---- Transfers ------------------------------------------------------------------

// Downloads to a local file and uploads from one. restartOffset resumes at that
// byte (REST); sizes and offsets are 64-bit. 0 on success, the reply code when
// the server answered the transfer command with one that is no failure but does
// not start it, -1 on error.
FT_API int FtpGetFile(FtpClient client, const char* localFile, const char* remoteFile, DWORD flags,
                      uint64_t restartOffset);
FT_API int FtpPutFile(FtpClient client, const char* localFile, const char* remoteFile, DWORD flags,
                      uint64_t restartOffset);
// Downloads into memory. With *length 0, *(HGLOBAL*)bufferOrHandle receives a
// movable global block of exactly the received size (the caller frees it);
// otherwise at most *length bytes are copied into the buffer. *length is set
// to the bytes delivered. 0 or -1.
FT_API int FtpGetData(FtpClient client, const char* remoteFile, void* bufferOrHandle,
                      DWORD* length);
FT_API int FtpPutData(FtpClient client, const char* remoteFile, const void* buffer, DWORD length);

// The raw data connection: FtpBeginTransfer opens it and sends RETR, STOR,
// APPE or STOU (125/150 when data may flow); FtpRead returns a line at a time
// for text types (0 at the end), FtpWrite sends; FtpEndTransfer closes it and
// returns the completion reply code.
FT_API int FtpBeginTransfer(FtpClient client, const char* remoteFile, int mode,
                            uint64_t restartOffset);
FT_API int FtpRead(FtpClient client, void* buffer, int size);
FT_API int FtpWrite(FtpClient client, const void* buffer, int size);
FT_API int FtpEndTransfer(FtpClient client);

// The size of a remote file by SIZE, else from its status: the reply code (213
// for a status) or -1.
FT_API int FtpGetFileSize64(FtpClient client, const char* fileName, int64_t* size);
FT_API int FtpGetFileSize(FtpClient client, const char* fileName, DWORD* size);

// Adds or changes a process-wide rule: files with this extension get this type
// (1 ASCII, 2 EBCDIC, 3 image). 1 or 0.
FT_API int FtpAddFileType(const char* extension, int fileType);
// The type the automatic rules give a name (sniff: look into the local file).
FT_API int FtpGuessFileType(FtpClient client, const char* fileName, BOOL sniff);
// The data buffer's size, 256 bytes to 1 MiB. 0 or -1.
FT_API int FtpSetBufferSize(FtpClient client, int size);

// ---- Multiple files and keep-alive ---------------------------------------------------

// Downloads every file of a remote directory's listing (LIST or MLSD with the
// mask as its argument, so the server applies it) into a local directory, and
// uploads every local file that matches a mask ("*" any run, "?" one
// character, case ignored; none: "*.*", every file) into a remote directory.
// Null or empty directories mean the current ones; the remote one is changed to
// for the call and changed back after it. Directories are skipped. The first
// failing file ends the call with its error; the files copied before it stay.
// 0 or -1 (fileErrorDirectoryEmpty when there is nothing to copy).
FT_API int FtpGetMultipleFiles(FtpClient client, const char* localDirectory,
                               const char* remoteDirectory, const char* mask);
FT_API int FtpPutMultipleFiles(FtpClient client, const char* localDirectory,
                               const char* remoteDirectory, const char* mask);

// Lets the keep-alive thread send NOOP on the session whenever it has been idle
// for 55 seconds (FtpConnect does this for FTP_OPTION_KEEPALIVE). 0 or -1.
FT_API int FtpEnableKeepAlive(FtpClient client);
// The keep-alive thread's procedure; the engine starts and ends it.
FT_API DWORD FtpKeepAliveThread(void* parameter);

// ---- Notifications ------------------------------------------------------------------

FT_API int FtpRegisterNotify(FtpClient client, HWND window, UINT message, DWORD eventMask);
FT_API LRESULT FtpRaiseEvent(FtpClient client, DWORD event, DWORD error);

FT_EXTERN_C_END

// Listings over the data connection.
#include "ftp/directory.h"
