#!/usr/bin/env bash
# Download and upload (PUT) of a large file over HTTP and HTTPS on loopback
# against nginx, by filetransfer's HTTP engine (bench_http, which drives the
# engine directly) and by curl in the same run. Each transfer runs 3 times;
# the table shows the medians of the wall seconds and of the client's CPU
# seconds (user + system) and the ratios filetransfer/curl.
# Usage: bench/http.sh [SIZE_MB]   (default 1024; FT_BENCH_HTTP=path uses that binary)
# Not part of the test command.
set -euo pipefail
cd "$(dirname "$0")/.."

size_mb=${1:-1024}
runs=3
ft=${FT_BENCH_HTTP:-build/bench-release/bin/bench_http}

# shellcheck source=bench/lib.sh
source bench/lib.sh
if [[ -z ${FT_BENCH_HTTP:-} ]]; then
    cmake -S . -B build/bench-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DFT_BENCH=ON \
        -DFT_TESTS=OFF >/dev/null
    cmake --build build/bench-release --target bench_http -j2 >/dev/null
fi
need curl curl
use_servers nginx
name="bench-$$.bin"
make_source "$FT_TEST_HTTP_ROOT/$name" "$FT_TEST_HTTP_ROOT${FT_TEST_DAV_PATH}bench-$$-up.bin"

plain="http://$FT_TEST_HOST:$FT_TEST_HTTP_PORT"
secure="https://$FT_TEST_HOST:$FT_TEST_HTTPS_PORT"
uploaded="${FT_TEST_DAV_PATH}$(basename "$upload_file")"

measure() {
    local base=$plain
    [[ $1 == https* ]] && base=$secure
    case "$1/$2" in
        *download/filetransfer)
            SSL_CERT_FILE=$FT_TEST_CA_FILE timed "$ft" get "$base/$name" "$work/down.bin" ;;
        *download/curl)
            timed curl -sS --cacert "$FT_TEST_CA_FILE" -o "$work/down.bin" "$base/$name" ;;
        *upload/filetransfer)
            SSL_CERT_FILE=$FT_TEST_CA_FILE timed "$ft" put "$work/local.bin" "$base$uploaded" ;;
        *upload/curl)
            timed curl -sS -f --cacert "$FT_TEST_CA_FILE" -T "$work/local.bin" "$base$uploaded" ;;
    esac
}

printf '%s MiB over loopback against nginx, median of %d runs, %s\n\n' "$size_mb" "$runs" \
    "$(curl --version | head -1 | cut -d' ' -f1-2)"
table curl download upload "https download" "https upload"
