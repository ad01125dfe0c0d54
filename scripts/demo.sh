#!/usr/bin/env bash
# The main job for people: starts the local test servers when they are not
# running, uploads and downloads a generated file over FTP with the progress
# line, compares checksums, prints a summary and stops the servers it started.
# Usage: scripts/demo.sh [SIZE_MB]   (FT_BIN=path uses that filetransfer binary)
set -euo pipefail
cd "$(dirname "$0")/.."

size_mb=${1:-64}
ft=${FT_BIN:-build/release/bin/filetransfer}

if [[ -z ${FT_BIN:-} ]]; then
    bash scripts/deps.sh
    bash scripts/build.sh release >/dev/null
fi

echo "== filetransfer version"
"$ft" version

# Servers: started here only when vsftpd is not running yet, and then stopped again.
# (status exits 1 when any server is down, so its output is read as a whole.)
started_servers=0
server_status=$(bash scripts/servers.sh status 2>/dev/null || true)
if [[ $server_status != *"vsftpd-plain: running"* ]]; then
    echo "== starting the local test servers"
    bash scripts/servers.sh start >/dev/null
    started_servers=1
fi
work=$(mktemp -d)
cleanup() {
    rm -rf "$work"
    [[ -n ${remote_path:-} ]] && rm -f "$remote_path"
    if ((started_servers)); then
        echo "== stopping the test servers started for the demo"
        bash scripts/servers.sh stop >/dev/null || true
    fi
}
trap cleanup EXIT

# shellcheck disable=SC1091
source <(bash scripts/servers.sh env)
name="demo-$$.bin"
remote_path="$FT_TEST_ROOT/$name"
url="ftp://$FT_TEST_USER:$FT_TEST_PASSWORD@$FT_TEST_HOST:$FT_TEST_FTP_PORT/$FT_TEST_ROOT/$name"
shown_url="ftp://$FT_TEST_USER:***@$FT_TEST_HOST:$FT_TEST_FTP_PORT/$FT_TEST_ROOT/$name"

echo "== generating a ${size_mb} MiB file"
head -c "$((size_mb * 1024 * 1024))" /dev/urandom >"$work/original.bin"

seconds() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

echo "== upload: filetransfer put $work/original.bin $shown_url"
t0=$(seconds)
"$ft" put "$work/original.bin" "$url"
t1=$(seconds)
echo "== download: filetransfer get $shown_url $work/copy.bin"
"$ft" get "$url" "$work/copy.bin"
t2=$(seconds)

original=$(sha256sum <"$work/original.bin" | cut -d' ' -f1)
on_server=$(sha256sum <"$remote_path" | cut -d' ' -f1)
copy=$(sha256sum <"$work/copy.bin" | cut -d' ' -f1)

echo "== summary"
printf '  file        %s MiB\n' "$size_mb"
printf '  upload      %s s\n' "$(elapsed "$t0" "$t1")"
printf '  download    %s s\n' "$(elapsed "$t1" "$t2")"
printf '  sha256      %s (original)\n' "$original"
printf '              %s (on the server)\n' "$on_server"
printf '              %s (downloaded)\n' "$copy"
if [[ $original == "$on_server" && $original == "$copy" ]]; then
    echo "  result      the copies are identical"
else
    echo "  result      CHECKSUMS DIFFER" >&2
    exit 1
fi
