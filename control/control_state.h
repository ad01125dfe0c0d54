// Everything a FileTransfer control keeps, with its initial values. Reset
// returns a control to a fresh ControlState (keeping the few fields that
// survive it).
#pragma once

#include <string>

#include "control/security_info.h"
#include "platform/messages.h"
#include "platform/secret_string.h"
#include "platform/wintypes.h"
#include "resources/typeinfo.h"
#include "tls/tls.h"

constexpr LONGLONG kNoClientHandle = fileInvalidHandle;
constexpr LONG kDefaultActivePortLow = 1025;
constexpr LONG kDefaultActivePortHigh = 4099;
constexpr LONG kDefaultProtocolVersion = 0x00010000;  // "1.0"
constexpr LONG kDefaultTimeoutSeconds = 20;
constexpr LONG kDefaultDecodedRatio = 1000;  // the HTTP engine's own default

// One directory entry as the control hands it out (all empty when cleared).
struct DirectoryEntryValues {
    std::u16string name, date, owner, group;
    LONGLONG length = 0;
    LONG perms = 0;
    bool isDirectory = false;
};

struct ControlState {
    std::u16string errorSource;
    LONGLONG clientHandle = kNoClientHandle;
    BOOL enabled = TRUE;
    std::u16string account;
    LONG activePort[2] = {kDefaultActivePortLow, kDefaultActivePortHigh};
    BOOL appendFile = FALSE;
    std::u16string certificateName;
    std::u16string certificateStore;
    BOOL compression = FALSE;
    LONGLONG maxDecodedSize = 0;  // MaxDecodedSize and MaxDecodedRatio: 0 is no limit
    LONG maxDecodedRatio = kDefaultDecodedRatio;
    LONG directoryFormat = fileDirectoryAutoDetect;
    LONG features = fileFeatureNone;
    BOOL featuresSet = FALSE;
    LONG options = fileOptionNone;
    LONG fileType = fileTypeDefault;
    LONG firstEntryPending = 0;
    BOOL enginesInitialized = FALSE;
    BOOL keepAlive = FALSE;
    DWORD lastError = 0;
    // The reported text of lastError when the engine said more than the table.
    std::string lastErrorText;
    std::u16string library;
    BOOL localize = FALSE;
    LONG parseDirectory = 1;
    BOOL passive = TRUE;
    SecretText password;
    LONG priority = filePriorityNormal;
    SecretText privateKey;
    LONG protocolVersion = kDefaultProtocolVersion;
    std::u16string proxyServer;
    SecretText proxyPassword;
    LONG proxyPort = 0;
    LONG proxyType = fileProxyNone;
    std::u16string proxyUser;
    std::u16string resource;
    LONG lastResultCode = 0;
    TlsCredentials* tlsCredentials =
        nullptr;  // made by the secure channel before each connect; owned
    ControlSecurityInfo securityInfo{};
    BOOL secure = FALSE;
    LONG secureProtocol = fileProtocolNone;
    std::u16string serverDirectory;
    std::u16string serverName;
    LONG serverPort = filePortUndefined;
    LONG serverType = fileServerUndefined;
    LONG connectionState = fileStateUnused;
    BOOL throwError = FALSE;
    LONG timeout = kDefaultTimeoutSeconds;
    BOOL trace = FALSE;
    std::u16string traceFile;
    LONG traceFlags = fileTraceDefault;
    std::u16string transferFileName;
    // The Content-Disposition file name of the last HTTP download, sanitised.
    std::u16string responseFileName;
    std::u16string userName;
    std::u16string versionText;
    HWND notifyWindow = nullptr;  // the window registered with the engines
    LONG hostKeyPolicy = fileHostKeyOff;
    std::u16string knownHostsFile;
    // What the last SFTP connect's host-key check found, and its text.
    LONG hostKeyStatus = fileHostKeyNotChecked;
    std::u16string hostKeyText;
    // Public-key login: ask the agent (SSH_AUTH_SOCK), and try ~/.ssh's default
    // keys when PrivateKey is empty.
    BOOL useAgent = TRUE;
    BOOL defaultIdentities = FALSE;
    // Listings by MLSD (and dates of them in UTC) where FEAT offers MLST.
    BOOL useMlsd = FALSE;
    // This control receives its thread's transcript (net/transcript.h).
    BOOL transcript = FALSE;
    // The entry ReadDirectory read last, also readable as properties (the
    // outputs of by-reference arguments never reach a JScript caller).
    DirectoryEntryValues entry;
};
