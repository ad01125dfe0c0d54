// Start and stop of the HTTP engine and its per-thread error state.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

#include "http/http.h"
#include "platform/lasterror.h"
#include "platform/sync.h"
#include "platform/system.h"
#include "resources/errors.h"
#include "resources/version.h"

namespace {

constexpr const char* kDescription = "Tollane Hypertext Transfer Protocol Library";
constexpr std::size_t kInternalTextSize = 512;

static_assert(sizeof(HttpLibraryInfo) == HTTP_LIBRARY_INFO_SIZE);

// Reference count and the socket runtime's start-up record, guarded by the lock.
struct EngineState {
    std::mutex lock;
    int initCount = 0;
    NetStartupData startup{};
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

}  // namespace

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
    std::lock_guard guard(engine.lock);
    if (engine.initCount == 0) return;
    --engine.initCount;
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

int HttpGetLocalAddress(HttpClient, int family, NetAddress* address) {
    if (!address) {
        HttpSetLastError(fileErrorInvalidParameter);
        return -1;
    }
    const int wanted = family == NET_FAMILY_IPV6 ? NET_FAMILY_IPV6 : NET_FAMILY_IPV4;
    const int found = LocalHostAddress(wanted, address);
    if (found < 0) {
        HttpSetLastError(fileErrorUnknownLocalhost);
        return -1;
    }
    return found;
}

}  // extern "C"
