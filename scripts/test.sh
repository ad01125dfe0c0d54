#!/usr/bin/env bash
# Installs what is missing, builds the release and the sanitizer flavours,
# and runs every test in both. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

status=0
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
exit $status
