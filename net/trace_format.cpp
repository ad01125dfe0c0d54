#include "net/trace_format.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

#include "resources/errors.h"

namespace net {
namespace {

// How each argument is shown: d decimal, x hexadecimal, p address, s text.
struct CallShape {
    SocketCall call;
    const char* name;
    const char* arguments;
    bool failsWithNonZero;  // the result is an error number rather than -1
};

constexpr std::array kCallShapes{
    CallShape{SocketCall::accept, "accept", "dpp", false},
    CallShape{SocketCall::bind, "bind", "dpd", false},
    CallShape{SocketCall::closesocket, "closesocket", "d", false},
    CallShape{SocketCall::connect, "connect", "dpd", false},
    CallShape{SocketCall::getaddrinfo, "getaddrinfo", "spp", true},
    CallShape{SocketCall::gethostname, "gethostname", "pd", false},
    CallShape{SocketCall::getsockname, "getsockname", "dpp", false},
    CallShape{SocketCall::socketError, "getsockopt(SO_ERROR)", "dp", false},
    CallShape{SocketCall::ioctlsocket, "ioctlsocket", "dxp", false},
    CallShape{SocketCall::listen, "listen", "dd", false},
    CallShape{SocketCall::recv, "recv", "dpdx", false},
    CallShape{SocketCall::select, "select", "pppp", false},
    CallShape{SocketCall::send, "send", "dpdx", false},
    CallShape{SocketCall::setsockopt, "setsockopt", "dxxp", false},
    CallShape{SocketCall::socket, "socket", "ddd", false},
    CallShape{SocketCall::asyncSelect, "asyncselect", "dpdx", false},
    CallShape{SocketCall::enumNetworkEvents, "enumnetworkevents", "dp", false},
    CallShape{SocketCall::eventSelect, "eventselect", "dx", false},
};

constexpr std::size_t kLongestText = 255;

std::string Argument(char kind, std::intptr_t value) {
    char text[32];
    switch (kind) {
        case 's': {
            const char* s = reinterpret_cast<const char*>(value);
            if (s == nullptr) return "null";
            std::string quoted(1, '"');
            quoted.append(s, strnlen(s, kLongestText));
            quoted += '"';
            return quoted;
        }
        case 'p':
            if (value == 0) return "null";
            std::snprintf(text, sizeof text, "%p", reinterpret_cast<void*>(value));
            return text;
        case 'x':
            std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
            return text;
        default:
            std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
            return text;
    }
}

std::string ErrorSuffix(int error) {
    const ErrorInfo* info = FindErrorByNumber(error);
    std::string suffix = " [" + std::to_string(error);
    if (info && info->name[0] != '\0') suffix += std::string(" ") + info->name;
    return suffix + "]";
}

}  // namespace

std::string FormatSocketCall(SocketCall call, std::intptr_t result, int argumentCount,
                             const std::intptr_t* arguments, int lastError) {
    auto shape = std::find_if(kCallShapes.begin(), kCallShapes.end(),
                              [call](const CallShape& s) { return s.call == call; });
    std::string line =
        shape != kCallShapes.end() ? shape->name : "call" + std::to_string(static_cast<int>(call));
    std::string_view kinds = shape != kCallShapes.end() ? shape->arguments : "";
    line += '(';
    for (int i = 0; i < argumentCount; ++i) {
        if (i > 0) line += ", ";
        char kind = static_cast<std::size_t>(i) < kinds.size() ? kinds[i] : 'x';
        line += Argument(kind, arguments[i]);
    }
    line += ") = " + std::to_string(result);
    bool failsWithNonZero = shape != kCallShapes.end() && shape->failsWithNonZero;
    bool failed = failsWithNonZero ? result != 0 : result == -1;
    if (failed) line += ErrorSuffix(failsWithNonZero ? static_cast<int>(result) : lastError);
    return line;
}

std::string FormatDump(const unsigned char* data, std::size_t length) {
    constexpr std::size_t kPerLine = 16;
    std::string out;
    char cell[32];
    for (std::size_t offset = 0; offset < length; offset += kPerLine) {
        std::size_t count = std::min(kPerLine, length - offset);
        std::snprintf(cell, sizeof cell, "%08zx ", offset);
        out += cell;
        for (std::size_t i = 0; i < kPerLine; ++i) {
            if (i < count) {
                std::snprintf(cell, sizeof cell, " %02x", data[offset + i]);
                out += cell;
            } else {
                out += "   ";
            }
        }
        out += "  |";
        for (std::size_t i = 0; i < count; ++i) {
            unsigned char c = data[offset + i];
            out += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '.';
        }
        out += "|\n";
    }
    return out;
}

std::string LinePrefix() {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t seconds = system_clock::to_time_t(now);
    auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[48];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03lld [%ld] ", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<long long>(millis),
                  static_cast<long>(syscall(SYS_gettid)));
    return text;
}

}  // namespace net
