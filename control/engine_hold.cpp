#include "control/engine_hold.h"

#include <atomic>
#include <cstdlib>

#include "ftp/engine.h"
#include "ftp/ftp.h"
#include "http/client.h"
#include "http/http.h"

namespace {

std::atomic<long> g_keptStarts{0};

void ReleaseAtExit() {
    ReleaseKeptEngineStarts();
}

}  // namespace

void KeepEngineStart(bool connectionLeft) {
    // The tables the release reads exist before any registration below.
    EngineSessionsAlive();
    const bool first = g_keptStarts.fetch_add(1) == 0;
    // Handlers run in the reverse order of registration, and a static object is
    // destroyed when its place in that order comes: a registration after the
    // engines' objects of the moment runs the release before they are gone. One
    // is added for the first start kept and for each connection left behind (it
    // may live in objects made since); a control that leaves nothing open adds
    // none, so a host that creates and destroys controls does not pile them up.
    if (first || connectionLeft) std::atexit(&ReleaseAtExit);
}

bool EngineSessionsAlive() {
    return ftp::OpenSessionCount() != 0 || !http::AllClients().empty();
}

long ReleaseKeptEngineStarts() {
    const long kept = g_keptStarts.exchange(0);
    for (long i = 0; i < kept; ++i) {
        FtpUninitialize();
        HttpUninitialize();
    }
    return kept;
}
