// Engine-wide state of the FTP engine: the library lock and reference count,
// the handle table, the thread's last error, session look-up and release.
#pragma once

#include "ftp/session.h"
#include "platform/handle_table.h"
#include "platform/last_error_guard.h"
#include "platform/sync.h"

namespace ftp {

// The sessions behind the client handles.
using SessionTable = HandleTable<FtpSession, FtpClient>;

struct Engine {
    CriticalSection lock;
    SessionTable table;
    int initCount = 0;
    NetStartupData startup{};

    Engine();
};

Engine& GetEngine();
// How many sessions the table holds (any thread's).
std::size_t OpenSessionCount();

// Sets the thread's last error to the error number and returns -1.
int Fail(int error);
// The error number of the thread's last error (0 for none).
int LastErrorNumber();
// Keeps the thread's FTP last error across steps whose own failure does not matter.
using FtpErrorGuard = LastErrorGuard<&FtpGetLastError, &FtpSetLastError>;

// The session of a handle for the calling thread, or null with
// fileErrorInvalidHandle / fileErrorNotHandleOwner set.
SessionRef LookupSession(FtpClient client);
// The same without the owner check (cancel, transfer status).
SessionRef LookupSessionAnyThread(FtpClient client);

// A new session in the table, owned by the calling thread; null with the error
// set when the engine is not initialised or memory runs out.
SessionRef AllocateSession();
// Frees what the session holds and empties its slot; only the owner thread (or
// any thread for a free-threaded session) does this. The caller's last error
// is kept.
void ReleaseSession(const SessionRef& session);

}  // namespace ftp
