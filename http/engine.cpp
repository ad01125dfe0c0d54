// Start and stop of the HTTP engine, its client table and per-thread error state.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "http/client.h"
#include "net/state_trace.h"
#include "platform/handle_table.h"
#include "platform/lasterror.h"
#include "platform/system.h"
#include "platform/wipe.h"
#include "resources/errors.h"
#include "resources/version.h"
#include "url/urlparts.h"

namespace http {
namespace {

constexpr const char* kDescription = "Tollane Hypertext Transfer Protocol Library";
constexpr std::size_t kInternalTextSize = 512;
constexpr HttpClient kHttpHandleBase = 0x40000000;

static_assert(sizeof(HttpLibraryInfo) == HTTP_LIBRARY_INFO_SIZE);

// Reference count, the socket runtime's start-up record and the client table,
// guarded by the lock (never held across a network wait).
struct EngineState {
    std::mutex lock;
    int initCount = 0;
    NetStartupData startup{};
    // A range of its own, far above the FTP engine's handles (4096 up), so that
    // a handle number names one connection whichever engine it came from.
    HandleTable<HttpClientRecord, HttpClient> table{kHttpHandleBase +
                                                    static_cast<HttpClient>(GetTickCount() & 255)};
};

EngineState& Engine() {
    static EngineState state;
    return state;
}

// Stands in for the module handle the record reports.
const char kModuleMarker = 0;

thread_local DWORD threadLastError = 0;
std::atomic<DWORD> processLastError{0};

void FillInfo(HttpLibraryInfo& info) {
    info.majorVersion = kFileVersion.major;
    info.minorVersion = kFileVersion.minor;
    info.build = kFileVersion.build;
    info.reserved = 0;
    info.module = const_cast<char*>(&kModuleMarker);
    std::memset(info.description, 0, sizeof info.description);
    std::strncpy(info.description, kDescription, sizeof info.description - 1);
}

int CopyText(const std::string& text, char* target, std::size_t capacity) {
    const std::size_t length = std::min(text.size(), capacity - 1);
    std::memcpy(target, text.data(), length);
    target[length] = '\0';
    return static_cast<int>(length);
}

int LocalHostAddress(int family, NetAddress* address) {
    char name[256] = {};
    if (NetGetHostName(name, sizeof name) != 0) return -1;
    return NetResolveHost(name, family, address);
}

int SocketAddress(SOCKET s, NetAddress* address) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (NetGetSockName(s, reinterpret_cast<sockaddr*>(&storage), &length) != 0) return -1;
    *address = NetAddress{};
    if (storage.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(storage);
        address->family = NET_FAMILY_IPV6;
        std::memcpy(address->address, &v6.sin6_addr, 16);
    } else {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(storage);
        address->family = NET_FAMILY_IPV4;
        std::memcpy(address->address, &v4.sin_addr, 4);
    }
    return address->family;
}

void WipeSecrets(HttpClientRecord& client) {
    WipeString(client.password);
    WipeString(client.proxyPassword);
    WipeString(client.requestLine);
}

bool MayUse(const HttpClientRecord& client) {
    return client.HasOption(HTTP_OPTION_FREETHREAD) || client.ownerThread == GetCurrentThreadId();
}

}  // namespace

int Fail(int error) {
    HttpSetLastError(static_cast<DWORD>(error));
    return -1;
}

int LastErrorNumber() {
    const DWORD code = HttpGetLastError();
    return code == 0 ? 0 : ErrorNumber(code);
}

void SetState(HttpClientRecord& client, ConnectionState state) {
    client.state = state;
}

void SetState(HttpClientRecord& client, ExchangeState state) {
    static constexpr const char* kNames[] = {"Idle",           "RequestSent", "SendingBody",
                                             "ReadingHeader",  "HeaderRead",  "ReadingBody",
                                             "ReadingTrailer", "BodyDone",    "BodyCut"};
    static_assert(std::size(kNames) == static_cast<std::size_t>(ExchangeState::BodyCut) + 1);
    net::ChangeState(client.exchange, state, "HTTP exchange", kNames);
}

ClientRef LookupClientAnyThread(HttpClient handle) {
    EngineState& engine = Engine();
    ClientRef client;
    {
        std::lock_guard guard(engine.lock);
        client = engine.table.Find(handle);
    }
    if (!client) Fail(fileErrorInvalidHandle);
    return client;
}

ClientRef LookupClient(HttpClient handle) {
    ClientRef client = LookupClientAnyThread(handle);
    if (client && !MayUse(*client)) {
        Fail(fileErrorNotHandleOwner);
        return nullptr;
    }
    return client;
}

bool EngineStarted() {
    EngineState& engine = Engine();
    std::lock_guard guard(engine.lock);
    return engine.initCount > 0;
}

ClientRef AllocateClient() {
    EngineState& engine = Engine();
    std::lock_guard guard(engine.lock);
    if (engine.initCount == 0) {
        Fail(fileErrorNetworkNotInitialized);
        return nullptr;
    }
    ClientRef client = engine.table.Create();
    if (!client) {
        Fail(fileErrorOutOfMemory);
        return nullptr;
    }
    client->ownerThread = GetCurrentThreadId();
    SetState(*client, ConnectionState::Connecting);
    return client;
}

void ReleaseClient(const ClientRef& client) {
    if (!client || client->released) return;
    HttpErrorGuard keepError;
    {
        EngineState& engine = Engine();
        std::lock_guard guard(engine.lock);
        engine.table.Remove(*client);
    }
    LeaveAsyncMode(*client);
    client->released = true;
    client->suppression = 0;
    client->eventWindow = nullptr;
    client->eventMask = 0;
    CloseConnection(*client);
    client->credentials.reset();
    client->requestHeaders.Clear();
    client->responseHeaders.Clear();
    WipeSecrets(*client);
    // An operation that still holds the record finds it released; the memory
    // goes with the last holder.
}

std::vector<ClientRef> AllClients() {
    EngineState& engine = Engine();
    std::lock_guard guard(engine.lock);
    return engine.table.Records();
}

}  // namespace http

using namespace http;

extern "C" {

int HttpInitialize(HttpLibraryInfo* info) {
    EngineState& engine = Engine();
    std::lock_guard guard(engine.lock);
    if (info) info->module = nullptr;
    if (info && info->size != HTTP_LIBRARY_INFO_SIZE) {
        HttpSetLastError(fileErrorInvalidParameter);
        return 0;
    }
    if (const int error = NetStartup(&engine.startup); error != 0) {
        HttpSetLastError(static_cast<DWORD>(error));
        return 0;
    }
    ++engine.initCount;
    if (info) FillInfo(*info);
    HttpSetLastError(0);
    return 1;
}

void HttpUninitialize(void) {
    EngineState& engine = Engine();
    std::vector<ClientRef> leftovers;
    {
        std::lock_guard guard(engine.lock);
        if (engine.initCount == 0) return;
        if (--engine.initCount == 0) leftovers = engine.table.Records();
    }
    const DWORD self = GetCurrentThreadId();
    for (const auto& client : leftovers) {
        if (!client) continue;
        client->ownerThread = self;
        ReleaseClient(client);
    }
    bool last = false;
    {
        std::lock_guard guard(engine.lock);
        last = engine.initCount == 0;
        if (last) engine.table.Clear();
    }
    if (last) RestoreAsyncWindows();
    // Each start took one reference of the socket runtime.
    NetCleanup();
}

DWORD HttpGetLastError(void) {
    return threadLastError;
}

void HttpSetLastError(DWORD error) {
    if (error >= 1 && error <= 0xFFFF) error = MakeErrorCode(static_cast<int>(error));
    threadLastError = error;
    processLastError.store(error);
    SetLastError(error);
}

int HttpGetErrorString(DWORD error, char* buffer) {
    static thread_local char internalBuffer[kInternalTextSize];
    if (error == 0) error = HttpGetLastError();
    if (error == 0) return 0;
    if (error <= 0xFFFF) error = MakeErrorCode(static_cast<int>(error));
    if (!MessageTableText(error)) return 0;
    // ErrorDescription cuts the trailing CR, LF and blanks.
    const std::string text = ErrorDescription(error);
    if (buffer) return CopyText(text, buffer, HTTP_ERROR_TEXT_SIZE);
    return CopyText(text, internalBuffer, sizeof internalBuffer);
}

int HttpGetLocalAddress(HttpClient handle, int family, NetAddress* address) {
    if (!address) {
        HttpSetLastError(fileErrorInvalidParameter);
        return -1;
    }
    int wanted = family == NET_FAMILY_IPV6 ? NET_FAMILY_IPV6 : NET_FAMILY_IPV4;
    {
        HttpErrorGuard keepError;
        if (ClientRef client = LookupClientAnyThread(handle)) {
            if (client->socket != INVALID_SOCKET && SocketAddress(client->socket, address) > 0) {
                return address->family;
            }
            if (client->HasOption(HTTP_OPTION_IPV6ONLY)) wanted = NET_FAMILY_IPV6;
        }
    }
    const int found = LocalHostAddress(wanted, address);
    if (found < 0) {
        HttpSetLastError(fileErrorUnknownLocalhost);
        return -1;
    }
    return found;
}

}  // extern "C"
