#include "ftp/engine.h"

#include <atomic>
#include <cstring>
#include <iterator>
#include <string>

#include "ftp/file_types.h"
#include "ftp/keepalive.h"
#include "ftp/notify.h"
#include "ftp/protocol_ops.h"
#include "net/state_trace.h"
#include "net/trace.h"
#include "platform/lasterror.h"
#include "platform/system.h"
#include "resources/errors.h"
#include "resources/version.h"
#include "ssh/sftp.h"

namespace ftp {
namespace {

// The handle base is chosen once per process.
FtpClient HandleBase() {
    static const FtpClient base = 4096 + static_cast<FtpClient>(GetTickCount() & 255);
    return base;
}

thread_local DWORD threadLastError = 0;
std::atomic<DWORD> processLastError{0};

bool MayRelease(const FtpSession& session) {
    return session.HasOption(FTP_OPTION_FREETHREAD) || session.ownerThread == GetCurrentThreadId();
}

}  // namespace

Engine::Engine() : table(HandleBase()) {}

Engine& GetEngine() {
    static Engine engine;
    return engine;
}

std::size_t OpenSessionCount() {
    Engine& engine = GetEngine();
    CriticalSectionGuard guard(*engine.lock.get());
    return engine.table.Records().size();
}

int Fail(int error) {
    FtpSetLastError(static_cast<DWORD>(error));
    return -1;
}

int LastErrorNumber() {
    DWORD code = FtpGetLastError();
    return code == 0 ? 0 : ErrorNumber(code);
}

void SetStatus(FtpSession& session, EngineStatus status) {
    session.status = status;
}

void SetState(FtpSession& session, SessionState state) {
    static constexpr const char* kNames[] = {"Disconnected", "Connecting", "Connected", "LoggedIn"};
    static_assert(std::size(kNames) == static_cast<std::size_t>(SessionState::LoggedIn) + 1);
    net::ChangeState(session.state, state, "FTP session", kNames);
}

void MarkGreeted(FtpSession& session) {
    if (!session.loggedIn()) SetState(session, SessionState::Connected);
}

SessionRef LookupSessionAnyThread(FtpClient client) {
    Engine& engine = GetEngine();
    SessionRef session;
    {
        CriticalSectionGuard guard(*engine.lock.get());
        session = engine.table.Find(client);
    }
    if (!session) Fail(fileErrorInvalidHandle);
    return session;
}

SessionRef LookupSession(FtpClient client) {
    SessionRef session = LookupSessionAnyThread(client);
    if (session && !session->HasOption(FTP_OPTION_FREETHREAD) &&
        session->ownerThread != GetCurrentThreadId()) {
        Fail(fileErrorNotHandleOwner);
        return nullptr;
    }
    if (session) WaitForKeepAliveExchange(*session);
    return session;
}

SessionRef AllocateSession() {
    Engine& engine = GetEngine();
    CriticalSectionGuard guard(*engine.lock.get());
    if (engine.initCount == 0) {
        Fail(fileErrorNetworkNotInitialized);
        return nullptr;
    }
    SessionRef session = engine.table.Create();
    if (!session) {
        Fail(fileErrorOutOfMemory);
        return nullptr;
    }
    session->ownerThread = GetCurrentThreadId();
    SetStatus(*session, EngineStatus::Connecting);
    return session;
}

void ReleaseSession(const SessionRef& session) {
    if (!session || session->released || !MayRelease(*session)) return;
    FtpErrorGuard keepError;
    Engine& engine = GetEngine();
    {
        CriticalSectionGuard guard(*engine.lock.get());
        engine.table.Remove(*session);
    }
    LeaveKeepAlive(*session);
    session->released = true;
    ReleaseSubclass(*session);
    session->credentials.reset();
    session->commandTls.reset();
    session->dataTls.reset();
    session->controlSocket.Close();
    session->dataSocket.Close();
    session->ops->release(*session);
    session->password.Wipe();
    session->proxyPassword.Wipe();
    session->account.Wipe();
    SetState(*session, SessionState::Disconnected);
    // Whoever still holds the record (an operation that a notification handler
    // interrupted) finds it released and fails; the memory goes with the last holder.
}

}  // namespace ftp

using namespace ftp;

extern "C" {

DWORD FtpGetLastError(void) {
    return threadLastError;
}

void FtpSetLastError(DWORD error) {
    if (error >= 1 && error <= 0xFFFF) error = MakeErrorCode(static_cast<int>(error));
    threadLastError = error;
    processLastError.store(error);
    SetLastError(error);
}

int FtpGetErrorString(DWORD error, char* buffer) {
    static thread_local char internalBuffer[512];
    if (error == 0) error = FtpGetLastError();
    if (error == 0) return 0;
    if (error <= 0xFFFF) error = MakeErrorCode(static_cast<int>(error));
    if (!MessageTableText(error)) return 0;
    std::string text = ErrorDescription(error);
    char* target = buffer ? buffer : internalBuffer;
    std::size_t capacity = buffer ? 128 : sizeof internalBuffer;
    std::size_t length = std::min(text.size(), capacity - 1);
    std::memcpy(target, text.data(), length);
    target[length] = '\0';
    return static_cast<int>(length);
}

int FtpInitialize(FtpLibraryInfo* info) {
    Engine& engine = GetEngine();
    CriticalSectionGuard guard(*engine.lock.get());
    if (info && info->size != FTP_LIBRARY_INFO_SIZE) {
        Fail(fileErrorInvalidParameter);
        return 0;
    }
    int error = NetStartup(&engine.startup);
    if (error != 0) {
        Fail(error);
        return 0;
    }
    if (info) {
        info->majorVersion = kFileVersion.major;
        info->minorVersion = kFileVersion.minor;
        info->build = kFileVersion.build;
        info->reserved0 = 0;
        info->reserved1 = 0;
        info->startupData = &engine.startup;
        std::memset(info->description, 0, sizeof info->description);
        std::strncpy(info->description, "Tollane File Transfer Protocol Library",
                     sizeof info->description - 1);
    }
    ++engine.initCount;
    SftpStartup();
    FtpSetLastError(0);
    return 1;
}

void FtpUninitialize(void) {
    Engine& engine = GetEngine();
    std::vector<SessionRef> leftovers;
    {
        CriticalSectionGuard guard(*engine.lock.get());
        if (engine.initCount == 0) return;
        if (--engine.initCount > 0) return;
        leftovers = engine.table.Records();
    }
    StopKeepAliveThread();
    RestoreAllSubclasses();
    ClearFileTypeRules();
    DWORD self = GetCurrentThreadId();
    for (const auto& session : leftovers) {
        session->ownerThread = self;
        ReleaseSession(session);
    }
    {
        CriticalSectionGuard guard(*engine.lock.get());
        engine.table.Clear();
    }
    NetTraceOff();
    NetCleanup();
    SftpCleanup();
}

}  // extern "C"
