#include "platform/lasterror.h"

#include <utility>

namespace {

thread_local DWORD t_lastError = 0;
thread_local DWORD t_detailCode = 0;
thread_local std::string t_detail;

}  // namespace

void SetLastErrorDetail(DWORD code, std::string_view detail) {
    t_detailCode = code;
    t_detail.assign(detail);
}

std::string TakeLastErrorDetail(DWORD code) {
    if (code == 0 || code != t_detailCode) return {};
    t_detailCode = 0;
    return std::exchange(t_detail, std::string());
}

void SetLastError(DWORD error) {
    t_lastError = error;
}
DWORD GetLastError() {
    return t_lastError;
}
