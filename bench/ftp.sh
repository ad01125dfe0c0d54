#!/usr/bin/env bash
# Download and upload of a large file over FTP and FTPS (explicit TLS) on
# loopback against vsftpd, by filetransfer and by curl in the same run. Each
# transfer runs 3 times; the table shows the medians of the wall seconds and
# of the client's CPU seconds (user + system) and the ratios filetransfer/curl.
# Usage: bench/ftp.sh [SIZE_MB]   (default 1024; FT_BIN=path uses that binary)
# Not part of the test command.
set -euo pipefail
cd "$(dirname "$0")/.."

size_mb=${1:-1024}
runs=3
ft=${FT_BIN:-build/release/bin/filetransfer}

if [[ -z ${FT_BIN:-} ]]; then
    if [[ -d build/release ]]; then
        cmake --build build/release --target filetransfer_cli -j2 >/dev/null
    else
        bash scripts/build.sh release >/dev/null
    fi
fi
command -v curl >/dev/null || { echo "bench: curl is needed" >&2; exit 1; }

server_status=$(bash scripts/servers.sh status 2>/dev/null || true)
if [[ $server_status != *"vsftpd-plain: running"* || $server_status != *"vsftpd-explicit: running"* ]]; then
    bash scripts/servers.sh start >/dev/null
fi
# shellcheck disable=SC1091
source <(bash scripts/servers.sh env)

work=$(mktemp -d)
source_file="$FT_TEST_ROOT/bench-$$.bin"
upload_file="$FT_TEST_ROOT/bench-$$-up.bin"
trap 'rm -rf "$work"; rm -f "$source_file" "$upload_file"' EXIT

echo "bench: generating $size_mb MiB in $source_file" >&2
head -c "$((size_mb * 1024 * 1024))" /dev/urandom >"$source_file"
chmod 0644 "$source_file"
cp "$source_file" "$work/local.bin"
expected=$(sha256sum <"$source_file" | cut -d' ' -f1)

credentials="$FT_TEST_USER:$FT_TEST_PASSWORD"
plain="$FT_TEST_HOST:$FT_TEST_FTP_PORT"
secure="$FT_TEST_HOST:$FT_TEST_FTPS_PORT"
remote=$(basename "$source_file")
uploaded=$(basename "$upload_file")

# shellcheck source=bench/lib.sh
source bench/lib.sh

measure() {
    case "$1/$2" in
        download/filetransfer)
            timed "$ft" get -q "ftp://$credentials@$plain/$FT_TEST_ROOT/$remote" "$work/down.bin" ;;
        download/curl)
            timed curl -sS -o "$work/down.bin" "ftp://$credentials@$plain/$FT_TEST_ROOT/$remote" ;;
        upload/filetransfer)
            timed "$ft" put -q "$work/local.bin" "ftp://$credentials@$plain/$FT_TEST_ROOT/$uploaded" ;;
        upload/curl)
            timed curl -sS -T "$work/local.bin" "ftp://$credentials@$plain/$FT_TEST_ROOT/$uploaded" ;;
        "ftps download/filetransfer")
            SSL_CERT_FILE=$FT_TEST_CA_FILE timed "$ft" get -q \
                "ftps://$credentials@$secure/$FT_TEST_ROOT/$remote" "$work/down.bin" ;;
        "ftps download/curl")
            timed curl -sS --ssl-reqd --cacert "$FT_TEST_CA_FILE" -o "$work/down.bin" \
                "ftp://$credentials@$secure/$FT_TEST_ROOT/$remote" ;;
        "ftps upload/filetransfer")
            SSL_CERT_FILE=$FT_TEST_CA_FILE timed "$ft" put -q "$work/local.bin" \
                "ftps://$credentials@$secure/$FT_TEST_ROOT/$uploaded" ;;
        "ftps upload/curl")
            timed curl -sS --ssl-reqd --cacert "$FT_TEST_CA_FILE" -T "$work/local.bin" \
                "ftp://$credentials@$secure/$FT_TEST_ROOT/$uploaded" ;;
    esac
}

printf '%s MiB over loopback against vsftpd, median of %d runs, %s\n\n' "$size_mb" "$runs" \
    "$(curl --version | head -1 | cut -d' ' -f1-2)"
table curl download upload "ftps download" "ftps upload"
