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

void KeepEngineStart() {
    g_keptStarts.fetch_add(1);
    // Handlers run in the reverse order of registration, and a static object is
    // destroyed when its place in that order comes: registering at every hand-over
    // runs the release before the engines' own objects made up to now are gone.
    std::atexit(&ReleaseAtExit);
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
