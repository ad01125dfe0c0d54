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

if [[ -z ${FT_BENCH_HTTP:-} ]]; then
    cmake -S . -B build/bench-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DFT_BENCH=ON \
        -DFT_TESTS=OFF >/dev/null
    cmake --build build/bench-release --target bench_http -j2 >/dev/null
fi
command -v curl >/dev/null || { echo "bench: curl is needed" >&2; exit 1; }

if [[ $(bash scripts/servers.sh status 2>/dev/null || true) != *"nginx: running"* ]]; then
    bash scripts/servers.sh start >/dev/null
fi
# shellcheck disable=SC1091
source <(bash scripts/servers.sh env)

work=$(mktemp -d)
name="bench-$$.bin"
source_file="$FT_TEST_HTTP_ROOT/$name"
upload_file="$FT_TEST_HTTP_ROOT${FT_TEST_DAV_PATH}bench-$$-up.bin"
trap 'rm -rf "$work"; rm -f "$source_file" "$upload_file"' EXIT

echo "bench: generating $size_mb MiB in $source_file" >&2
head -c "$((size_mb * 1024 * 1024))" /dev/urandom >"$source_file"
chmod 0644 "$source_file"
cp "$source_file" "$work/local.bin"
expected=$(sha256sum <"$source_file" | cut -d' ' -f1)

plain="http://$FT_TEST_HOST:$FT_TEST_HTTP_PORT"
secure="https://$FT_TEST_HOST:$FT_TEST_HTTPS_PORT"
uploaded="${FT_TEST_DAV_PATH}$(basename "$upload_file")"

# shellcheck source=bench/lib.sh
source bench/lib.sh

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
