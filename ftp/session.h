// The record of one FTP connection, owned by the handle table. Everything a
// session holds (sockets, TLS channels, buffers, secrets) is released with it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "ftp/fixed_text.h"
#include "ftp/ftp.h"
#include "ftp/tables.h"
#include "ftp/text_conversion.h"
#include "net/net.h"
#include "net/socket_wait.h"
#include "platform/byte_queue.h"
#include "platform/messages.h"
#include "tls/tls.h"

struct SftpSession;

namespace ftp {

struct ProtocolOps;
// The FTP operations (ftp/protocol_ops.h): every session's until a connect
// binds another protocol's.
extern const ProtocolOps kFtpOperations;

inline constexpr int kDefaultTimeoutSeconds = 20;
inline constexpr int kDefaultActivePortLow = 1025;
inline constexpr int kDefaultActivePortHigh = 4999;
inline constexpr std::size_t kDataBufferSize = 8192;

enum class EngineStatus : int {
    None = 0,
    Idle = FTP_STATUS_IDLE,
    Connecting = FTP_STATUS_CONNECTING,
    Receiving = FTP_STATUS_RECEIVING,
    Sending = FTP_STATUS_SENDING,
    Disconnecting = FTP_STATUS_DISCONNECTING,
    OpeningData = FTP_STATUS_OPENDATA,
    ClosingData = FTP_STATUS_CLOSEDATA,
    Downloading = FTP_STATUS_GETFILE,
    Uploading = FTP_STATUS_PUTFILE,
    Listing = FTP_STATUS_LISTING,
};

// The phase of the control connection, apart from the status reported to
// callers above. Changed only through SetState.
enum class SessionState : int {
    Disconnected,  // no control connection
    Connecting,    // the control connection is being opened, the greeting awaited
    Connected,     // the server greeted; no user is logged in
    LoggedIn,      // a user is logged in (or the server needs no login)
};

// The phase of the data connection. Changed only through SetDataState.
enum class DataChannelState : int {
    Closed,     // no data connection
    Listening,  // active mode: our socket waits for the server to connect
    Open,       // connected; data may flow
    Ended,      // the server closed its side: all it sent has been received
};

// A socket closed with NetCloseSocket when its owner lets go of it.
class SocketOwner {
  public:
    SocketOwner() = default;
    ~SocketOwner() { Close(); }
    SocketOwner(const SocketOwner&) = delete;
    SocketOwner& operator=(const SocketOwner&) = delete;

    void Reset(SOCKET s) {
        Close();
        socket_ = s;
    }
    void Close() {
        if (socket_ != INVALID_SOCKET) NetCloseSocket(socket_);
        socket_ = INVALID_SOCKET;
    }
    SOCKET get() const { return socket_; }
    bool valid() const { return socket_ != INVALID_SOCKET; }

  private:
    SOCKET socket_ = INVALID_SOCKET;
};

// What a transfer keeps (filled by the transfer operations).
struct TransferFields {
    FixedText<FTP_MAX_PATH> localFile;
    FixedText<FTP_MAX_PATH> remoteFile;
    std::uint64_t fileSize = 0;
    // The exact size of the remote file as the server gave it (a SIZE reply,
    // or "(N bytes)" in the reply that opens a download); 0 when unknown.
    std::uint64_t announcedSize = 0;
    std::uint64_t bytesTransferred = 0;
    std::uint64_t restartOffset = 0;
    DWORD startTick = 0;
    DWORD endTick = 0;
};

struct FtpSession {
    FtpClient handle = INVALID_CLIENT;
    std::size_t index = 0;
    DWORD ownerThread = 0;
    bool released = false;

    SocketOwner controlSocket;
    SocketOwner dataSocket;
    // The protocol's operations, chosen at connect, and on SFTP the SFTP
    // client's session, which only those operations use.
    const ProtocolOps* ops = &kFtpOperations;
    ::SftpSession* sftp = nullptr;

    // Notifications.
    HWND asyncWindow = nullptr;
    UINT asyncMessage = 0;
    HWND notifyWindow = nullptr;
    UINT notifyMessage = 0;
    DWORD eventMask = 0;
    DWORD pendingAsyncEvents = 0;
    bool notificationsSuspended = false;
    bool insideNotification = false;

    bool autoFileType = true;
    bool ioInProgress = false;
    std::atomic<bool> cancelRequested{false};
    bool replyPending = false;
    bool featAsked = false;
    bool listingOpen = false;
    bool firstCommandDone = false;
    bool nameOnlyListing = false;
    bool passive = false;
    bool restart = false;
    // The command channel fell out of step after a failed transfer and was
    // closed: the next command reconnects first.
    bool reconnectDue = false;
    // While set, replies are waited for until this point instead of the
    // time-out, and an expired wait raises no event (the resynchronisation
    // after a failed transfer).
    std::optional<NetDeadline> replyDeadline;
    bool pbszSent = false;
    // The cancel of the current transfer was already reported to the host.
    bool cancelReported = false;

    std::uint32_t features = kDefaultFeatures;
    std::uint32_t options = 0;
    int dataDirection = 0;
    int fileType = FTP_FILE_TYPE_IMAGE;
    int defaultFileType = FTP_FILE_TYPE_IMAGE;
    bool commandChannelSecure = false;
    bool dataChannelSecure = false;

    NetAddress serverAddress{};
    int serverPort = 0;
    int timeout = kDefaultTimeoutSeconds;
    int activePortLow = kDefaultActivePortLow;
    int activePortHigh = kDefaultActivePortHigh;

    FixedText<FTP_MAX_HOSTNAME> hostName;
    FixedText<FTP_MAX_USERNAME + 1> userName;
    FixedText<FTP_MAX_PASSWORD + 1> password;
    FixedText<FTP_MAX_ACCOUNT + 1> account;
    FixedText<FTP_MAX_PATH> currentDirectory;

    int proxyType = kProxyNone;
    NetAddress proxyAddress{};
    int proxyPort = 0;
    FixedText<FTP_MAX_HOSTNAME> proxyHost;
    FixedText<FTP_MAX_USERNAME + 1> proxyUser;
    FixedText<FTP_MAX_PASSWORD + 1> proxyPassword;

    TransferFields transfer;
    EngineStatus status = EngineStatus::None;
    SessionState state = SessionState::Disconnected;
    DataChannelState dataState = DataChannelState::Closed;
    int priority = 2;

    int lastReplyCode = 0;
    FixedText<FTP_MAX_REPLY> replyText;
    FixedText<FTP_MAX_COMMAND> commandLine;
    DWORD lastCommandTick = 0;

    // Keep-alive (ftp/keepalive.h): counted among the sessions that take part,
    // and held by the keep-alive thread while it exchanges a NOOP.
    bool keepAliveCounted = false;
    std::mutex keepAliveExchange;

    ByteQueue<char> dataBuffer = ByteQueue<char>(kDataBufferSize);
    LineEndState lineEnds;
    // A receive that failed after a read had already copied bytes: reported by
    // the next read, so that a reset or time-out is neither lost nor waited for twice.
    int deferredReadError = 0;

    int systemType = kSystemNotAsked;
    int directoryFormat = 0;
    // A layout the caller chose (FtpSetDirectoryFormat), as against one detected.
    bool directoryFormatChosen = false;
    // FtpSetListingFacts: MLSD instead of LIST when FEAT offered MLST.
    bool preferFacts = false;

    TlsCredentialsPtr credentials;
    int tlsProtocol = TLS_PROTOCOL_DEFAULT;
    TlsChannelPtr commandTls;
    TlsChannelPtr dataTls;

    bool HasOption(std::uint32_t bit) const { return (options & bit) != 0; }
    bool loggedIn() const { return state == SessionState::LoggedIn; }
};

using SessionRef = std::shared_ptr<FtpSession>;

// The one place the engine status changes.
void SetStatus(FtpSession& session, EngineStatus status);
// The one place the session state changes (traced as "FTP session state Old -> New").
void SetState(FtpSession& session, SessionState state);
// The control connection is up: Connected, unless a user is logged in already.
void MarkGreeted(FtpSession& session);
// The one place the data connection's state changes (traced as
// "FTP data channel state Old -> New"; ftp/data_connection.cpp).
void SetDataState(FtpSession& session, DataChannelState state);

}  // namespace ftp
