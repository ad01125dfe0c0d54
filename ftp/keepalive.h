// The keep-alive thread: one background thread for the whole process that sends
// NOOP on idle sessions that asked for keep-alive (option 0x8), so that servers
// and firewalls do not close their control connections.
//
// How the thread and a session's owner thread are kept apart:
// - Every operation holds a reference to its session for its whole duration,
//   and operations get that reference only from the handle table under the
//   library lock. A pass of the thread looks at the table under the same lock:
//   a session with no reference but the table's (and the pass's own copy) runs
//   no operation, and no operation can start on it while the lock is held.
// - Such a session is claimed for a NOOP exchange by locking its
//   keepAliveExchange mutex, still under the library lock. Then the library
//   lock is let go and the exchange runs.
// - LookupSession locks and unlocks the session's keepAliveExchange mutex after
//   it took its reference, so an operation that starts during an exchange waits
//   for its end (at most the bounded answer wait) before it touches the session.
// The thread thus never sends NOOP while a command, a reply or a transfer of the
// owner is under way, and the owner never sees the NOOP's answer.
#pragma once

#include "ftp/session.h"

namespace ftp {

struct KeepAliveTimings {
    DWORD passInterval = 15000;    // sleep between two passes over the sessions
    DWORD idleTime = 55000;        // since the last command before a NOOP is due
    DWORD firstAnswerWait = 5000;  // for the first bytes of the NOOP's answer
    DWORD moreAnswerWait = 1000;   // for each further piece of the answer
};

// The documented timings are long; tests shorten them. Takes effect at the
// thread's next wait.
void SetKeepAliveTimings(const KeepAliveTimings& timings);
KeepAliveTimings GetKeepAliveTimings();

// The number of sessions that take part, and whether the thread runs.
int KeepAliveSessionCount();
bool KeepAliveThreadRunning();
// NOOPs answered since the process started.
int KeepAliveAnsweredCount();

// Sets option 0x8 and starts the session's idle time; a session other than a
// secure-shell one then takes part, and the first one starts the thread. 0, or
// -1 with fileErrorThreadCreationFailed.
int EnableKeepAlive(FtpSession& session);
// Waits until a NOOP exchange on the session has ended (LookupSession).
void WaitForKeepAliveExchange(FtpSession& session);
// The session stops taking part (release, or a server that does not answer).
void LeaveKeepAlive(FtpSession& session);
// At the last FtpUninitialize: wakes the thread and waits until it has ended.
void StopKeepAliveThread();

}  // namespace ftp
