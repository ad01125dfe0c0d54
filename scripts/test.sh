#!/usr/bin/env bash
# Installs what is missing, starts the loopback test servers, builds the release
# and the sanitizer flavours, runs every test in both, and runs every fuzz target
# for a bounded time (scripts/fuzz.sh). Exits non-zero on any
# failure. Without root the servers cannot be installed and the integration tests
# skip; with CI=true nothing may be skipped.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

servers_started=0
stop_servers() { [ "$servers_started" -eq 1 ] && bash scripts/servers.sh stop >/dev/null 2>&1 || true; }
trap stop_servers EXIT

set +e
bash scripts/servers.sh start
rc=$?
set -e
case $rc in
    0)
        servers_started=1
        set -a
        # shellcheck disable=SC1091
        source build/servers/env
        set +a ;;
    77)
        if [ "${CI:-}" = "true" ]; then
            echo "test: the test servers could not be started, and CI skips nothing" >&2
            exit 1
        fi
        echo "test: test servers not started (needs root); integration tests will skip" ;;
    *) echo "test: starting the test servers failed" >&2; exit 1 ;;
esac

status=0
bash scripts/check-seams.sh || status=1
for flavour in release asan; do
    echo "== $flavour build"
    bash scripts/build.sh "$flavour"
    echo "== $flavour tests"
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    if ! ctest --test-dir "build/$flavour" --output-on-failure -j "$(nproc)" --timeout 600; then
        status=1
    fi
done
echo "== fuzz targets"
bash scripts/fuzz.sh || status=1
exit $status
