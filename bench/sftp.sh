#!/usr/bin/env bash
# Download and upload of a large file over SFTP on loopback against OpenSSH's
# sshd (internal-sftp), by filetransfer and by OpenSSH's sftp client in the same
# run. Each transfer runs 3 times; the table shows the medians of the wall
# seconds and of the client's CPU seconds (user + system; for sftp that
# includes its ssh child) and the ratios filetransfer/sftp.
# Usage: bench/sftp.sh [SIZE_MB]   (default 1024; FT_BIN=path uses that binary)
# The test user logs in with its password; sftp gets it through SSH_ASKPASS,
# so neither sshpass nor a key is needed. Not part of the test command.
set -euo pipefail
cd "$(dirname "$0")/.."

size_mb=${1:-1024}
runs=3
# shellcheck source=bench/lib.sh
source bench/lib.sh
build_command_line
need sftp "OpenSSH's sftp"
use_servers sshd
make_source "$FT_TEST_ROOT/bench-$$.bin" "$FT_TEST_ROOT/bench-$$-up.bin"

printf '#!/bin/sh\necho "%s"\n' "$FT_TEST_PASSWORD" >"$work/askpass"
chmod 0700 "$work/askpass"
credentials="$FT_TEST_USER:$FT_TEST_PASSWORD"
server="$FT_TEST_HOST:$FT_TEST_SFTP_PORT"

# OpenSSH's sftp with its commands on stdin (batch mode would refuse the password).
openssh_sftp() {
    SSH_ASKPASS="$work/askpass" SSH_ASKPASS_REQUIRE=force sftp -q -P "$FT_TEST_SFTP_PORT" \
        -o UserKnownHostsFile="$FT_TEST_SSH_KNOWN_HOSTS" -o StrictHostKeyChecking=yes \
        "$FT_TEST_USER@$FT_TEST_HOST" <<<"$1"
}

measure() {
    case "$1/$2" in
        download/filetransfer)
            timed "$ft" get -q --known-hosts "$FT_TEST_SSH_KNOWN_HOSTS" \
                "sftp://$credentials@$server/$source_file" "$work/down.bin" ;;
        download/sftp)
            timed bash -c 'openssh_sftp "$1"' _ "get $source_file $work/down.bin" ;;
        upload/filetransfer)
            timed "$ft" put -q --known-hosts "$FT_TEST_SSH_KNOWN_HOSTS" "$work/local.bin" \
                "sftp://$credentials@$server/$upload_file" ;;
        upload/sftp)
            timed bash -c 'openssh_sftp "$1"' _ "put $work/local.bin $upload_file" ;;
    esac
}

export -f openssh_sftp
export work FT_TEST_SFTP_PORT FT_TEST_SSH_KNOWN_HOSTS FT_TEST_USER FT_TEST_HOST
printf '%s MiB over loopback against sshd (internal-sftp), median of %d runs, %s\n\n' \
    "$size_mb" "$runs" "$(ssh -V 2>&1 | cut -d, -f1)"
table sftp download upload
