// Opening, logging in, reconnecting, cancelling and closing sessions.
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

#include "ftp/command_channel.h"
#include "ftp/engine.h"
#include "ftp/ftp_ops.h"
#include "ftp/ftpurl.h"
#include "ftp/keepalive.h"
#include "ftp/notify.h"
#include "platform/system.h"
#include "resources/errors.h"

namespace ftp {
namespace {

constexpr int kPlainPort = 21;
constexpr int kImplicitTlsPort = 990;
constexpr int kSecureShellPort = 22;

constexpr std::uint32_t kCallerSetupOptions = FTP_OPTION_CALLER_PWD | FTP_OPTION_CALLER_TYPE;

std::string TextOrEmpty(const char* text) {
    return text ? std::string(text) : std::string();
}

FtpClient FailClient(int error) {
    Fail(error);
    return INVALID_CLIENT;
}

bool HasUrlScheme(std::string_view text) {
    static constexpr std::string_view kSchemes[] = {"ftp:", "ftps:", "sftp:"};
    for (std::string_view scheme : kSchemes) {
        if (text.size() < scheme.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < scheme.size() && same; ++i) {
            same = std::tolower(static_cast<unsigned char>(text[i])) == scheme[i];
        }
        if (same) return true;
    }
    return false;
}

// A URL given as the host names the host, and the port, user and password
// when the caller gave none; its scheme chooses the security.
bool ApplyUrl(ConnectRequest& request) {
    FtpUrlRecord* record = nullptr;
    if (!FtpParseUrl(request.host.c_str(), &record) || !record) return false;
    request.host = TextOrEmpty(record->host);
    if (request.port == 0) request.port = record->port;
    if (request.user.empty()) request.user = TextOrEmpty(record->user);
    if (request.password.empty()) request.password = TextOrEmpty(record->password);
    if (record->scheme == FTP_SCHEME_FTPS) {
        request.options |= FTP_OPTION_SECURE;
        request.options &= ~static_cast<std::uint32_t>(FTP_OPTION_SECURE_SHELL);
    } else if (record->scheme == FTP_SCHEME_SFTP) {
        request.options |= FTP_OPTION_SECURE_SHELL;
        request.options &=
            ~static_cast<std::uint32_t>(FTP_OPTION_SECURE | FTP_OPTION_SECURE_EXPLICIT);
    }
    FtpFreeUrl(record);
    return !request.host.empty();
}

void ApplyPortRules(ConnectRequest& request) {
    if (request.Has(FTP_OPTION_FIREWALL)) {
        request.options |= FTP_OPTION_PASSIVE | FTP_OPTION_FIREWALL_ADDRESS;
    } else if (request.port == kImplicitTlsPort) {
        request.options |= FTP_OPTION_SECURE;
    } else if (request.port == kSecureShellPort) {
        request.options |= FTP_OPTION_SECURE_SHELL;
    }
    if (request.Has(FTP_OPTION_SECURE_EXPLICIT)) request.options |= FTP_OPTION_SECURE;
    if (request.Has(FTP_OPTION_FIREWALL_ADDRESS)) request.options |= FTP_OPTION_PASSIVE;
    if (request.Has(FTP_OPTION_KEEPALIVE_DATA)) request.options |= FTP_OPTION_KEEPALIVE;
}

int DefaultPort(std::uint32_t options) {
    bool implicitTls =
        (options & FTP_OPTION_SECURE) != 0 && (options & FTP_OPTION_SECURE_EXPLICIT) == 0;
    return implicitTls ? kImplicitTlsPort : kPlainPort;
}

bool NegotiateAuth(FtpSession& session) {
    for (std::string_view mechanism : {"TLS", "SSL"}) {
        Exchange reply = RunCommand(session, "AUTH", mechanism);
        if (reply.ok() && (reply.code == 234 || reply.code == 334)) return true;
        if (reply.code == 0) return false;  // the channel failed, not the server
    }
    session.features &= ~static_cast<std::uint32_t>(kFeatureAuth);
    Fail(fileErrorSecurityContext);
    return false;
}

// A TLS wait on the control channel that timed out or was cancelled.
void RaiseTlsWaitEvent(void* context, int error) {
    auto& session = *static_cast<FtpSession*>(context);
    RaiseEvent(session, error == fileErrorOperationTimeout ? FTP_EVENT_TIMEOUT : FTP_EVENT_CANCEL,
               error);
}

// Secures the command channel: for explicit TLS after the greeting (read here
// unless the caller has) and AUTH. 0, or -1 with the error set.
int StartCommandTls(FtpSession& session, bool explicitTls, bool readsGreeting = true) {
    if (explicitTls && readsGreeting) {
        Exchange greeting{ReadReply(session), 0};
        if (greeting.code < 0) return -1;
        if (greeting.code != 220) return Fail(fileErrorServiceUnavailable);
    }
    if (explicitTls) {
        if ((session.features & kFeatureAuth) == 0) return Fail(fileErrorFeatureNotSupported);
        if (!NegotiateAuth(session)) return -1;
    }
    TlsChannel* channel =
        TlsCreateChannel(session.controlSocket.get(), session.hostName.c_str(),
                         session.credentials.get(), session.timeout, session.options);
    if (!channel) return Fail(TlsGetLastError());
    session.commandTls.reset(channel);
    TlsSetWaitObserver(channel, RaiseTlsWaitEvent, &session);
    if (!TlsAcquireCredentials(channel) || !TlsStartHandshake(channel) ||
        !TlsHandshakeLoop(channel)) {
        return Fail(TlsGetLastError());
    }
    if (!TlsValidateCertificate(channel) && TlsGetLastError() != fileErrorSecurityCertificate) {
        return Fail(TlsGetLastError());
    }
    session.commandChannelSecure = true;
    session.dataChannelSecure = true;
    return 0;
}

// Connects the control socket to the address and reads the greeting (through
// TLS when the session has it). 0, or -1 with the error set.
int OpenControlChannel(FtpSession& session, const NetAddress& address, int port) {
    SetStatus(session, EngineStatus::Connecting);
    if (!session.loggedIn()) SetState(session, SessionState::Connecting);
    session.ioInProgress = true;
    session.replyPending = true;
    SOCKET s = NetConnectAddress(&address, static_cast<uint16_t>(port), session.timeout);
    if (s == INVALID_SOCKET) {
        int error = NetGetLastError();
        return Fail(error == 0 ? fileErrorConnectionRefused : error);
    }
    session.controlSocket.Reset(s);
    return 0;
}

void MarkConnected(FtpSession& session) {
    session.ioInProgress = false;
    MarkGreeted(session);
    SetStatus(session, EngineStatus::Idle);
}

FtpClient Abandon(const SessionRef& session, bool sendQuit) {
    if (sendQuit) SendQuit(*session);
    ReleaseSession(session);
    return INVALID_CLIENT;
}

bool SecureSession(FtpSession& session, const ConnectRequest& request) {
    if (!TlsBindProvider()) return Fail(TlsGetLastError()), false;
    TlsCredentials* copy = nullptr;
    if (request.credentials) {
        copy = TlsCopyCredentials(request.credentials);
    } else {
        TlsCreateCredentials(TLS_PROTOCOL_DEFAULT, nullptr, nullptr, &copy);
    }
    if (!copy) return Fail(fileErrorOutOfMemory), false;
    if (copy->protocol == 0) copy->protocol = TLS_PROTOCOL_DEFAULT;
    session.tlsProtocol = static_cast<int>(copy->protocol);
    session.credentials.reset(copy);
    return true;
}

}  // namespace

FtpClient ftpops::Connect(ConnectRequest& request) {
    bool tls = request.Has(FTP_OPTION_SECURE);
    if (tls && request.port == kPlainPort && !request.Has(FTP_OPTION_FIREWALL)) {
        request.options |= FTP_OPTION_SECURE_EXPLICIT;
    }
    if (request.port == 0) request.port = DefaultPort(request.options);
    bool explicitTls = request.Has(FTP_OPTION_SECURE_EXPLICIT);

    SessionRef session = AllocateSession();
    if (!session) return INVALID_CLIENT;
    if (tls && !SecureSession(*session, request)) return Abandon(session, false);
    session->options = request.options & ~kCallerSetupOptions;
    session->serverPort = request.port;
    session->timeout = request.timeout > 0 ? request.timeout : kDefaultTimeoutSeconds;
    session->passive = request.Has(FTP_OPTION_PASSIVE);
    if (!session->hostName.Assign(request.host)) {
        Fail(fileErrorInvalidHostName);
        return Abandon(session, false);
    }
    int familyHint = request.Has(FTP_OPTION_IPV6_ONLY) ? NET_FAMILY_IPV6 : 0;
    if (NetResolveHost(request.host.c_str(), familyHint, &session->serverAddress) < 0) {
        Fail(fileErrorInvalidHostName);
        return Abandon(session, false);
    }
    if (OpenControlChannel(*session, session->serverAddress, request.port) != 0) {
        return Abandon(session, false);
    }
    if (tls && StartCommandTls(*session, explicitTls) != 0) return Abandon(session, false);
    if (!explicitTls && ReadReply(*session) < 0) return Abandon(session, false);
    MarkConnected(*session);

    if (session->HasOption(FTP_OPTION_VIRTUALHOST)) {
        session->features |= kFeatureHost;
        if (!RunCommand(*session, "HOST", session->hostName.view()).ok()) {
            return Abandon(session, true);
        }
    }
    if (session->HasOption(FTP_OPTION_NOAUTH)) {
        SetState(*session, SessionState::LoggedIn);
    } else if (!request.user.empty() &&
               LoginSession(*session, request.user, request.password, {}) < 0) {
        return Abandon(session, true);
    }
    // Without a login the server would refuse these; the caller logs in later.
    if (session->loggedIn()) {
        // Run as internal commands these leave the lazy PWD to the caller's own
        // first command, so a caller that starts with PWD sends it once.
        const std::uint32_t kept = session->options;
        if (request.Has(FTP_OPTION_CALLER_PWD)) session->options |= FTP_OPTION_INTERNAL;
        QuerySystemType(*session);
        QueryServerFeatures(*session);
        if (!request.Has(FTP_OPTION_CALLER_TYPE) && RunCommand(*session, "TYPE", "I").positive()) {
            session->fileType = FTP_FILE_TYPE_IMAGE;
        }
        session->options = kept;
    }
    // A caller that asked for keep-alive learns when it cannot have it.
    if (session->HasOption(FTP_OPTION_KEEPALIVE) && EnableKeepAlive(*session) != 0) {
        return Abandon(session, true);
    }
    FtpSetLastError(0);
    return session->handle;
}

int ftpops::Cancel(FtpSession& session) {
    session.restart = false;
    session.cancelRequested = true;
    return 0;
}

namespace {

int RunProxyLogin(FtpSession& session) {
    int previousCode = 0;
    for (const ProxyStep& step : ProxyLoginSteps(session.proxyType)) {
        if (step.onlyAfter != 0 && previousCode != step.onlyAfter) continue;
        std::string_view argument =
            step.argument == ProxyArgument::ProxyUser       ? session.proxyUser.view()
            : step.argument == ProxyArgument::ProxyPassword ? session.proxyPassword.view()
                                                            : session.hostName.view();
        Exchange reply = RunCommand(session, step.command, argument);
        if (step.argument == ProxyArgument::ProxyPassword) session.commandLine.Wipe();
        if (!reply.ok()) return -1;
        previousCode = reply.code;
    }
    if (session.proxyType == kProxyOther) SetState(session, SessionState::LoggedIn);
    return 0;
}

void ResetForReconnect(FtpSession& session) {
    if (session.dataTls && session.dataChannelSecure) TlsShutdown(session.dataTls.get());
    if (session.commandTls && session.commandChannelSecure) TlsShutdown(session.commandTls.get());
    session.dataTls.reset();
    session.commandTls.reset();
    session.commandChannelSecure = false;
    session.dataChannelSecure = false;
    // The new TLS session needs its own PBSZ before PROT.
    session.pbszSent = false;
    session.dataSocket.Close();
    session.controlSocket.Close();
    ReleaseSubclass(session);
    SetState(session, SessionState::Disconnected);
    session.replyPending = false;
    session.ioInProgress = false;
    session.cancelRequested = false;
    session.listingOpen = false;
    SetDataState(session, DataChannelState::Closed);
    session.restart = false;
    session.reconnectDue = false;
    session.notifyWindow = nullptr;
    session.notifyMessage = 0;
    session.eventMask = 0;
    session.pendingAsyncEvents = 0;
    session.transfer = TransferFields{};
    session.lastReplyCode = 0;
    session.commandLine.Wipe();
    session.dataBuffer.Clear();
    SetStatus(session, EngineStatus::Idle);
}

int Reconnect(const SessionRef& session) {
    FixedText<FTP_MAX_PATH> directory;
    directory.Assign(session->currentDirectory.view());
    HWND window = session->notifyWindow;
    UINT message = session->notifyMessage;
    DWORD mask = session->eventMask;
    std::uint32_t options = session->options;
    int fileType = session->fileType;
    bool hadTls = (options & FTP_OPTION_SECURE) != 0;
    bool viaProxy = session->proxyType != kProxyNone;

    ResetForReconnect(*session);
    session->options &= ~static_cast<std::uint32_t>(FTP_OPTION_SECURE);
    const NetAddress& address = viaProxy ? session->proxyAddress : session->serverAddress;
    int port = viaProxy ? session->proxyPort : session->serverPort;
    if (OpenControlChannel(*session, address, port) != 0) {
        Fail(fileErrorServerResyncFailed);
        return Abandon(session, false), -1;
    }
    // As at the first connect: implicit TLS speaks TLS before the greeting,
    // explicit TLS reads the greeting in plain text and then asks for TLS. A
    // greeting that is missing or not 220 is a failed resynchronisation.
    const bool explicitTls = hadTls && (options & FTP_OPTION_SECURE_EXPLICIT) != 0;
    if (hadTls && !explicitTls && StartCommandTls(*session, false) != 0) {
        return Abandon(session, false), -1;
    }
    if (ReadReply(*session) != 220) {
        Fail(fileErrorServerResyncFailed);
        return Abandon(session, false), -1;
    }
    if (explicitTls && StartCommandTls(*session, true, false) != 0) {
        return Abandon(session, false), -1;
    }
    if (hadTls) session->options |= FTP_OPTION_SECURE;
    MarkConnected(*session);
    if (viaProxy && RunProxyLogin(*session) != 0) {
        Fail(fileErrorProxyResyncFailed);
        return Abandon(session, true), -1;
    }
    if (session->proxyType != kProxyOther) {
        std::string user(session->userName.view());
        std::string password(session->password.view());
        std::string account(session->account.view());
        int result = LoginSession(*session, user, password, account);
        std::fill(password.begin(), password.end(), '\0');
        std::fill(account.begin(), account.end(), '\0');
        if (result < 0) return Abandon(session, true), -1;
    }
    if (!directory.empty() && ChangeDirectory(*session, directory.view()) < 0) {
        return Abandon(session, true), -1;
    }
    session->notifyWindow = window;
    session->notifyMessage = message;
    session->eventMask = mask;
    session->options = options;
    session->fileType = fileType;
    return 200;
}

}  // namespace
}  // namespace ftp

using namespace ftp;

extern "C" {

FtpClient FtpConnect(const char* hostOrUrl, int port, const char* user, const char* password,
                     int timeoutSeconds, DWORD options, const TlsCredentials* credentials) {
    if (!hostOrUrl || hostOrUrl[0] == '\0') return FailClient(fileErrorInvalidHostName);
    ConnectRequest request{hostOrUrl,      port,    TextOrEmpty(user), TextOrEmpty(password),
                           timeoutSeconds, options, credentials};
    if (request.Has(FTP_OPTION_IPV6_ONLY) && !NetIsIpv6Available()) {
        return FailClient(fileErrorProtocolNotAvailable);
    }
    if (HasUrlScheme(request.host) && !ApplyUrl(request)) {
        return FailClient(fileErrorInvalidHostName);
    }
    ApplyPortRules(request);
    FtpClient client = OperationsFor(request.options).connect(request);
    std::fill(request.password.begin(), request.password.end(), '\0');
    return client;
}

FtpClient FtpProxyConnect(int proxyType, const char* proxyHost, int proxyPort,
                          const char* proxyUser, const char* proxyPassword, const char* serverHost,
                          int timeoutSeconds, DWORD options, const TlsCredentials* credentials) {
    std::string server = TextOrEmpty(serverHost);
    if (proxyType != kProxyOther && server.empty()) return FailClient(fileErrorInvalidHostName);
    if (options & FTP_OPTION_SECURE_SHELL) return FailClient(fileErrorOperationNotSupported);
    if (proxyType == kProxyNone) {
        return FtpConnect(serverHost, 0, nullptr, nullptr, timeoutSeconds, options, credentials);
    }
    if (proxyType < kProxyNone || (proxyType > kProxySite && proxyType != kProxyOther)) {
        return FailClient(fileErrorInvalidProxyType);
    }
    FtpClient client =
        FtpConnect(proxyHost, proxyPort, nullptr, nullptr, timeoutSeconds, options, credentials);
    if (client == INVALID_CLIENT) return INVALID_CLIENT;
    SessionRef session = LookupSession(client);
    session->proxyType = proxyType;
    session->proxyAddress = session->serverAddress;
    session->proxyPort = session->serverPort;
    session->serverAddress = NetAddress{};
    session->serverPort = DefaultPort(session->options);
    bool kept = session->proxyHost.Assign(session->hostName.view()) &&
                session->hostName.Assign(server) &&
                session->proxyUser.Assign(TextOrEmpty(proxyUser)) &&
                session->proxyPassword.Assign(TextOrEmpty(proxyPassword));
    if (!kept || RunProxyLogin(*session) != 0) {
        Fail(fileErrorInvalidProxyLogin);
        return Abandon(session, true);
    }
    FtpSetLastError(0);
    return client;
}

int FtpLogin(FtpClient client, const char* user, const char* password, const char* account) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    return LoginSession(*session, TextOrEmpty(user), TextOrEmpty(password), TextOrEmpty(account));
}

int FtpDisconnect(FtpClient client) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    SetStatus(*session, EngineStatus::Disconnecting);
    if (session->controlSocket.valid() && !session->dataSocket.valid()) SendQuit(*session);
    ReleaseSession(session);
    return 0;
}

int FtpReconnect(FtpClient client) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    if (!session->ops->commandChannel) return Fail(fileErrorOperationNotSupported);
    return Reconnect(session);
}

int FtpCancel(FtpClient client) {
    if (client == INVALID_CLIENT) {
        if (NetIsBlocking()) return NetCancelBlockingCall() == 0 ? 0 : Fail(NetGetLastError());
        return Fail(fileErrorOperationNotBlocking);
    }
    SessionRef session = LookupSessionAnyThread(client);
    if (!session) return -1;
    if (session->ownerThread == GetCurrentThreadId() && NetIsBlocking()) NetCancelBlockingCall();
    return session->ops->cancel(*session);
}

}  // extern "C"
