// Puts a last-error value back when the scope ends, for clean-up steps whose
// own failures must not replace the error the caller is about to report.
// The slot is the thread's last error (platform/lasterror.h) unless a getter
// and setter name another: an engine's own (FtpGetLastError/FtpSetLastError),
// or errno where the C library's value has to survive.
#pragma once

#include "platform/lasterror.h"

template <auto Get = &GetLastError, auto Set = &SetLastError>
class LastErrorGuard {
  public:
    LastErrorGuard() : saved_(Get()) {}
    ~LastErrorGuard() { Set(saved_); }
    LastErrorGuard(const LastErrorGuard&) = delete;
    LastErrorGuard& operator=(const LastErrorGuard&) = delete;

  private:
    decltype(Get()) saved_;
};
