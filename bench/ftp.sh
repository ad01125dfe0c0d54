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
# shellcheck source=bench/lib.sh
source bench/lib.sh
build_command_line
need curl curl
use_servers vsftpd-plain vsftpd-explicit
make_source "$FT_TEST_ROOT/bench-$$.bin" "$FT_TEST_ROOT/bench-$$-up.bin"

credentials="$FT_TEST_USER:$FT_TEST_PASSWORD"
plain="$FT_TEST_HOST:$FT_TEST_FTP_PORT"
secure="$FT_TEST_HOST:$FT_TEST_FTPS_PORT"
remote=$(basename "$source_file")
uploaded=$(basename "$upload_file")

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
