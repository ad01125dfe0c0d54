#include "cli/hresult_text.h"

#include <cstdio>

#include "cli/command_line.h"
#include "control/FileTransfer.h"
#include "platform/hresult_text.h"
#include "resources/errors.h"

namespace {

const char* MeaningOf(HRESULT hr) {
    const char* meaning = HresultMeaning(hr);
    return meaning ? meaning : "Unknown error";
}

// The error number of an automation error, or 0 when hr is not one of ours.
int ErrorNumberOf(HRESULT hr) {
    const auto bits = static_cast<DWORD>(hr);
    if ((bits & 0xFFFF0000u) != static_cast<DWORD>(kAutomationErrorBase)) return 0;
    const ErrorInfo* info = FindErrorByNumber(static_cast<int>(bits & 0xFFFFu));
    return (info && info->name[0] != '\0') ? info->number : 0;
}

}  // namespace

std::string DescribeFailure(HRESULT hr, std::string_view reported) {
    char text[512];
    if (int number = ErrorNumberOf(hr)) {
        const std::string table = FindErrorByNumber(number)->text;
        if (reported.size() > table.size() && reported.starts_with(table))
            return "error " + std::to_string(number) + ": " + std::string(reported);
        std::snprintf(text, sizeof text, "error %d: %s", number, table.c_str());
    } else {
        std::snprintf(text, sizeof text, "error 0x%08X: %s", static_cast<unsigned>(hr),
                      MeaningOf(hr));
    }
    return text;
}

namespace {

struct ExitClass {
    int number;  // the error number of the failure
    int status;
};

constexpr ExitClass kExitClasses[] = {
    {fileErrorInvalidHostName, 6},
    {fileErrorHostNameNotFound, 6},
    {fileErrorHostNameRefused, 6},
    {fileErrorHostNameNotResolved, 6},
    {fileErrorConnectionRefused, 7},
    {fileErrorHostUnreachable, 7},
    {fileErrorNetworkUnreachable, 7},
    {fileErrorOperationTimeout, 28},
    {fileErrorSecurityContext, 35},
    {fileErrorSecurityCertificate, 60},
    {fileErrorSecurityHostKey, 60},
    {fileErrorAuthenticationFailed, 67},
    {fileErrorInvalidUserName, 67},
    {fileErrorInvalidPassword, 67},
    {fileErrorAuthenticationRequired, 67},
    {fileErrorFileNotFound, 78},
    {fileErrorDirectoryNotFound, 78},
    {fileErrorResourceNotFound, 78},
    {fileErrorAccessDenied, 9},
    {fileErrorCommandNotAuthorized, 9},
    {fileErrorDecodedSizeExceeded, 63},
    {fileErrorOperationCanceled, 130},
};

}  // namespace

bool IsFileNotCreated(HRESULT hr) {
    return ErrorNumberOf(hr) == fileErrorFileNotCreated;
}

bool IsServerRefusal(HRESULT hr) {
    const int status = ExitStatusOf(hr);
    return status == 9 || status == 67 || status == 78;
}

int ExitStatusOf(HRESULT hr) {
    const int number = ErrorNumberOf(hr);
    for (const ExitClass& entry : kExitClasses) {
        if (entry.number == number) return entry.status;
    }
    return kExitFailure;
}
