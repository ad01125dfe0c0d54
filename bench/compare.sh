#!/usr/bin/env bash
# Every protocol against the peer clients on the loopback test servers: a
# download and an upload of a generated file by filetransfer, curl, lftp and
# OpenSSH's sftp (where each speaks the protocol), then the time of a 27-byte
# get per protocol. Runs alternate between the clients (runs rounds of
# filetransfer, peer, peer...); the tables show the medians of the wall seconds
# and of the client's CPU seconds (user + system, children included) and the
# ratios filetransfer / peer (below 1: filetransfer is faster or cheaper).
# A transfer that fails (a server that is not running, an algorithm set not
# supported yet) is reported in its row and the script goes on.
#
# Usage: bench/compare.sh [SIZE_MB]   (default 1024)
#   FT_BIN=path          the filetransfer binary (else build/release is built)
#   FT_BENCH_RUNS=n      rounds per transfer (default 3, at least 3 is sensible)
#   FT_BENCH_SMALL_RUNS=n  rounds of the small-file get (default 9)
#   FT_BENCH_PROTOCOLS="ftp ftps http https sftp-classic sftp-modern"  the rows to run;
#     sftp-classic, and sftp-chacha, sftp-gcm and sftp-ctr-etm (not run by default),
#     each start a private stock sshd pinned to one algorithm set (the classic
#     diffie-hellman-group-exchange-sha256 with aes128-ctr and hmac-sha1;
#     chacha20-poly1305@openssh.com; aes128-gcm@openssh.com; aes128-ctr with
#     hmac-sha2-256-etm@openssh.com), so that every client uses that set
# The servers come from scripts/servers.sh (started when vsftpd is not running,
# then with their files in /dev/shm when it has room, and stopped at the end;
# FT_TEST_* and FT_SERVERS_* choose ports and folders as there); the local files
# go to /dev/shm when it has room. SFTP with the modern algorithms runs against
# the stock sshd (FT_TEST_SFTP_PORT), where every client settles on its first
# choice, chacha20-poly1305. Not part of the test command.
set -uo pipefail
cd "$(dirname "$0")/.."
# Decimal points in the numbers of the clock, time, sort and awk.
export LC_ALL=C

size_mb=${1:-1024}
runs=${FT_BENCH_RUNS:-3}
small_runs=${FT_BENCH_SMALL_RUNS:-9}
protocols=${FT_BENCH_PROTOCOLS:-ftp ftps http https sftp-classic sftp-modern}

die() { echo "compare: $*" >&2; exit 1; }

# ---- Tools and servers ----

command -v curl >/dev/null || die "curl is needed"
command -v sftp >/dev/null || die "OpenSSH's sftp is needed"
if ! command -v lftp >/dev/null; then
    echo "compare: installing lftp" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq lftp >/dev/null ||
        die "lftp is needed (apt-get install lftp)"
fi

ft=${FT_BIN:-build/release/bin/filetransfer}
if [[ -z ${FT_BIN:-} ]]; then
    if [[ -d build/release ]]; then
        cmake --build build/release --target filetransfer_cli -j2 >/dev/null || die "build failed"
    else
        bash scripts/build.sh release >/dev/null || die "build failed"
    fi
fi

# Files live in memory when /dev/shm has room (the clients' three copies, and the
# servers' up to six when the script starts the servers itself), so that the
# disk's writeback of a gigabyte does not take part in the comparison: with the
# servers' files on disk an upload row moves by a fifth from run to run.
shm_room() {
    [[ -d /dev/shm ]] && (($(df -Pk /dev/shm | awk 'NR == 2 { print $4 }') > $1 * 1024))
}
# Servers the script starts it also stops at the end (the tests expect their
# fixtures on disk, and a folder in memory is not kept). The clean-up is armed
# before anything is started or written.
started_servers=no
memory_servers=
pinned_pids=()
work=
transfer_files=()
cleanup() {
    for pid in "${pinned_pids[@]}"; do kill "$pid" 2>/dev/null; done
    [[ -n $work ]] && rm -rf "$work"
    rm -f "${transfer_files[@]}"
    if [[ $started_servers == yes ]]; then
        bash scripts/servers.sh stop >/dev/null 2>&1
        [[ -n $memory_servers ]] && rm -rf "$memory_servers"
    fi
}
trap cleanup EXIT

if [[ $(bash scripts/servers.sh status 2>/dev/null) != *"vsftpd-plain: running"* ]]; then
    if [[ -z ${FT_SERVERS_DATA_DIR:-} ]] && shm_room $((size_mb * 9)); then
        memory_servers=/dev/shm/fttest-bench
        export FT_SERVERS_DATA_DIR=$memory_servers
    fi
    started_servers=yes
    bash scripts/servers.sh start >/dev/null || die "the test servers did not start"
fi
# The running servers' own settings (their folders may not be the defaults).
# shellcheck disable=SC1090,SC1091
source "${FT_SERVERS_RUN_DIR:-build/servers}/env" || die "the test servers' settings are missing"
server_files=disk
[[ $(stat -f -c %T "$FT_TEST_ROOT") == tmpfs ]] && server_files=memory

scratch=/tmp
shm_room $((size_mb * 3)) && scratch=/dev/shm
work=$(mktemp -d -p "$scratch")
tag=compare-$$
ftp_source=$FT_TEST_ROOT/$tag.bin
ftp_upload=$FT_TEST_ROOT/$tag-up.bin
ftp_small=$FT_TEST_ROOT/$tag-small.txt
http_source=$FT_TEST_HTTP_ROOT/$tag.bin
http_small=$FT_TEST_HTTP_ROOT/$tag-small.txt
http_upload=$FT_TEST_HTTP_ROOT$FT_TEST_DAV_PATH$tag-up.bin
transfer_files=("$ftp_source" "$ftp_upload" "$ftp_small" "$http_source" "$http_small" "$http_upload")

echo "compare: generating $size_mb MiB" >&2
head -c "$((size_mb * 1024 * 1024))" /dev/urandom >"$work/local.bin"
expected=$(sha256sum <"$work/local.bin" | cut -d' ' -f1)
printf 'a small file of 27 bytes.\n\n' | head -c 27 >"$work/small.txt"
for copy in "$ftp_source" "$http_source"; do cp "$work/local.bin" "$copy"; done
for copy in "$ftp_small" "$http_small"; do cp "$work/small.txt" "$copy"; done
chown "$FT_TEST_USER" "$ftp_source" "$ftp_small" 2>/dev/null
chmod 0644 "$ftp_source" "$ftp_small" "$http_source" "$http_small"

printf '#!/bin/sh\necho "%s"\n' "$FT_TEST_PASSWORD" >"$work/askpass"
chmod 0700 "$work/askpass"

user=$FT_TEST_USER
password=$FT_TEST_PASSWORD
host=$FT_TEST_HOST
ca=$FT_TEST_CA_FILE
# What the classic row's sshd offers: nothing else, so no client can choose
# another set.
classic_ssh="-o KexAlgorithms=diffie-hellman-group-exchange-sha256 -o Ciphers=aes128-ctr
    -o MACs=hmac-sha1"
# A pinned sshd serves the stock server's host keys on a port of its own.
stock_host_key="HostKeyAlias=[$host]:$FT_TEST_SFTP_PORT"

# ---- One transfer per protocol, direction and client ----

# Per protocol: the URL base of the plain paths, the remote names, the peers.
url_of() {
    case $1 in
        ftp) echo "ftp://$user:$password@$host:$FT_TEST_FTP_PORT" ;;
        ftps) echo "ftps://$user:$password@$host:$FT_TEST_FTPS_PORT" ;;
        http) echo "http://$host:$FT_TEST_HTTP_PORT" ;;
        https) echo "https://$host:$FT_TEST_HTTPS_PORT" ;;
        sftp-modern) echo "sftp://$user:$password@$host:$FT_TEST_SFTP_PORT" ;;
        sftp-*) echo "sftp://$user:$password@$host:$(ssh_port "$1")" ;;
    esac
}
# remote PROTOCOL KIND: the remote path (KIND: source, upload, small).
remote() {
    case $1/$2 in
        http*/source) echo "/$tag.bin" ;;
        http*/small) echo "/$tag-small.txt" ;;
        http*/upload) echo "$FT_TEST_DAV_PATH$tag-up.bin" ;;
        */source) echo "$ftp_source" ;;
        */small) echo "$ftp_small" ;;
        */upload) echo "$ftp_upload" ;;
    esac
}
upload_file() {
    case $1 in http*) echo "$http_upload" ;; *) echo "$ftp_upload" ;; esac
}
peers_of() {
    case $1 in
        sftp-classic | sftp-modern) echo "sftp lftp" ;;
        sftp*) echo "sftp" ;;
        *) echo "curl lftp" ;;
    esac
}
ssh_port() {
    case $1 in
        sftp-modern) echo "$FT_TEST_SFTP_PORT" ;;
        *) cat "$work/$1.port" 2>/dev/null ;;
    esac
}

# The sshd options of the pinned rows.
pinned_options() {
    case $1 in
        sftp-classic) echo "$classic_ssh" ;;
        sftp-chacha) echo "-o Ciphers=chacha20-poly1305@openssh.com" ;;
        sftp-gcm) echo "-o Ciphers=aes128-gcm@openssh.com" ;;
        sftp-ctr-etm) echo "-o Ciphers=aes128-ctr -o MACs=hmac-sha2-256-etm@openssh.com" ;;
    esac
}

# Starts the private sshd of a pinned row on a free loopback port (bounded wait).
start_pinned_sshd() {
    local protocol=$1 port=$2 options
    # shellcheck disable=SC2207
    options=($(pinned_options "$protocol"))
    /usr/sbin/sshd -D -e -f "$FT_TEST_SSHD_CONFIG" -p "$port" -o PidFile=none \
        "${options[@]}" 2>"$work/$protocol.log" &
    pinned_pids+=($!)
    for _ in $(seq 50); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$port" >"$work/$protocol.port"
            return 0
        fi
        sleep 0.1
    done
    echo "compare: the pinned sshd of $protocol did not start" >&2
}

openssh_sftp() {
    local protocol=$1 commands=$2 options=()
    [[ -n $(pinned_options "$protocol") ]] && options=(-o "$stock_host_key")
    SSH_ASKPASS="$work/askpass" SSH_ASKPASS_REQUIRE=force sftp -q -P "$(ssh_port "$protocol")" \
        -o UserKnownHostsFile="$FT_TEST_SSH_KNOWN_HOSTS" -o StrictHostKeyChecking=yes \
        "${options[@]}" "$user@$host" <<<"$commands"
}

lftp_settings() {
    local protocol=$1
    printf 'set cmd:fail-exit true; set net:max-retries 1; set ssl:ca-file %s; ' "$ca"
    case $protocol in
        ftps) printf 'set ftp:ssl-force true; set ftp:ssl-protect-data true; ' ;;
        ftp) printf 'set ftp:ssl-allow false; ' ;;
        sftp-classic)
            printf 'set sftp:connect-program "ssh -a -x -o UserKnownHostsFile=%s -o %s"; ' \
                "$FT_TEST_SSH_KNOWN_HOSTS" "$stock_host_key" ;;
        sftp-modern)
            printf 'set sftp:connect-program "ssh -a -x -o UserKnownHostsFile=%s"; ' \
                "$FT_TEST_SSH_KNOWN_HOSTS" ;;
    esac
}

# transfer PROTOCOL DIRECTION TOOL SOURCE TARGET: one transfer, its output gone.
# DIRECTION get: SOURCE is the remote path, TARGET the local file; put: the reverse.
transfer() {
    local protocol=$1 direction=$2 tool=$3 from=$4 to=$5 base
    base=$(url_of "$protocol")
    # URLs of FTP and SFTP name absolute paths with a second slash.
    [[ $protocol == http* ]] || base+=/
    case $tool/$direction in
        filetransfer/get)
            SSL_CERT_FILE=$ca "$ft" get -q -k "$base$from" "$to" ;;
        filetransfer/put)
            SSL_CERT_FILE=$ca "$ft" put -q -k "$from" "$base$to" ;;
        curl/get)
            case $protocol in
                ftps) curl -sS -f --ssl-reqd --cacert "$ca" -o "$to" "ftp${base#ftps}$from" ;;
                *) curl -sS -f --cacert "$ca" -o "$to" "$base$from" ;;
            esac ;;
        curl/put)
            case $protocol in
                ftps) curl -sS -f --ssl-reqd --cacert "$ca" -T "$from" "ftp${base#ftps}$to" ;;
                *) curl -sS -f --cacert "$ca" -T "$from" "$base$to" ;;
            esac ;;
        lftp/get)
            lftp -c "$(lftp_settings "$protocol")open '${base/ftps:/ftp:}'; get '$from' -o '$to'" ;;
        lftp/put)
            lftp -c "$(lftp_settings "$protocol")open '${base/ftps:/ftp:}'; put '$from' -o '$to'" ;;
        sftp/get) openssh_sftp "$protocol" "get $from $to" ;;
        sftp/put) openssh_sftp "$protocol" "put $from $to" ;;
    esac
}

pinned_port=${FT_BENCH_PINNED_PORT:-2240}
for protocol in $protocols; do
    case $protocol in
        sftp-classic | sftp-chacha | sftp-gcm | sftp-ctr-etm)
            start_pinned_sshd "$protocol" "$pinned_port"
            pinned_port=$((pinned_port + 1)) ;;
    esac
done

export -f transfer url_of ssh_port openssh_sftp lftp_settings pinned_options
export work ft user password host ca classic_ssh stock_host_key FT_TEST_FTP_PORT FT_TEST_FTPS_PORT \
    FT_TEST_HTTP_PORT FT_TEST_HTTPS_PORT FT_TEST_SFTP_PORT FT_TEST_SSH_KNOWN_HOSTS

# timed ARGUMENTS...: one transfer (the arguments of transfer) timed: "WALL
# CPU" in seconds, or "failed". The wall time is the shell's own clock (to the
# microsecond: /usr/bin/time counts hundredths, too coarse for a small get).
timed() {
    local start=$EPOCHREALTIME end
    if /usr/bin/time -o "$work/time" -f '%U %S' bash -c 'transfer "$@"' _ "$@" \
        >/dev/null 2>"$work/stderr"; then
        end=$EPOCHREALTIME
        awk -v start="$start" -v end="$end" '{ printf "%.3f %.3f\n", end - start, $1 + $2 }' \
            "$work/time"
    else
        echo failed
    fi
}

# measure PROTOCOL DIRECTION TOOL: one checked run: "WALL CPU" or "failed".
measure() {
    local protocol=$1 direction=$2 tool=$3 result actual target
    if [[ $direction == get ]]; then
        rm -f "$work/down.bin"
        result=$(timed "$protocol" get "$tool" "$(remote "$protocol" source)" \
            "$work/down.bin")
        target=$work/down.bin
    else
        target=$(upload_file "$protocol")
        rm -f "$target"
        result=$(timed "$protocol" put "$tool" "$work/local.bin" \
            "$(remote "$protocol" upload)")
    fi
    if [[ $result != failed ]]; then
        actual=$(sha256sum <"$target" 2>/dev/null | cut -d' ' -f1)
        [[ $actual == "$expected" ]] || result=failed
    fi
    [[ $result == failed ]] && echo "compare: $tool $protocol $direction failed: $(head -c 300 "$work/stderr")" >&2
    echo "$result"
}

# The median of a column of numbers (empty when there are none).
median() {
    sort -n | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)] }'
}

ratio() {
    awk -v a="$1" -v b="$2" 'BEGIN { if (a != "" && b > 0) printf "%.2f", a / b; else print "-" }'
}

# Results per "protocol direction tool": lines of "WALL CPU".
declare -A results

# in_turn ROUND TOOL...: the tools in the round's order. The order turns by one
# each round, so no client always follows the same one (and inherits, say, the
# server's writeback of the upload before it).
in_turn() {
    local round=$1
    shift
    local tools=("$@") i
    for ((i = 0; i < ${#tools[@]}; i++)); do
        echo "${tools[(i + round) % ${#tools[@]}]}"
    done
}

run_transfers() {
    local protocol=$1 direction tool round line
    for direction in get put; do
        echo "compare: $protocol $direction" >&2
        for ((round = 0; round < runs; round++)); do
            for tool in $(in_turn "$round" filetransfer $(peers_of "$protocol")); do
                line=$(measure "$protocol" "$direction" "$tool")
                results["$protocol $direction $tool"]+="$line"$'\n'
            done
        done
    done
}

# column KEY N: the median of column N of the key's successful runs.
column() {
    grep -v '^failed' <<<"${results[$1]:-}" | sed '/^$/d' | cut -d' ' -f"$2" | median
}
failures() {
    grep -c '^failed' <<<"${results[$1]:-}"
}

print_transfer_table() {
    local protocol direction peer ft_key peer_key ft_wall ft_cpu peer_wall peer_cpu note
    printf '| Protocol | Transfer | Peer | filetransfer wall s | peer wall s | wall ratio | filetransfer CPU s | peer CPU s | CPU ratio |\n'
    printf '|---|---|---|---|---|---|---|---|---|\n'
    for protocol in $protocols; do
        for direction in get put; do
            ft_key="$protocol $direction filetransfer"
            ft_wall=$(column "$ft_key" 1)
            ft_cpu=$(column "$ft_key" 2)
            for peer in $(peers_of "$protocol"); do
                peer_key="$protocol $direction $peer"
                peer_wall=$(column "$peer_key" 1)
                peer_cpu=$(column "$peer_key" 2)
                note=""
                [[ -z $ft_wall ]] && ft_wall="failed"
                [[ -z $peer_wall ]] && peer_wall="failed"
                printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$protocol" \
                    "$([[ $direction == get ]] && echo download || echo upload)" "$peer" \
                    "$ft_wall" "$peer_wall" "$(ratio "${ft_wall/failed/}" "${peer_wall/failed/}")" \
                    "${ft_cpu:--}" "${peer_cpu:--}" "$(ratio "$ft_cpu" "$peer_cpu")"
            done
        done
    done
}

# ---- The small file ----

declare -A small

run_small() {
    local protocol=$1 round tool result
    echo "compare: $protocol small get" >&2
    for ((round = 0; round < small_runs; round++)); do
        for tool in $(in_turn "$round" filetransfer $(peers_of "$protocol")); do
            rm -f "$work/small-down.txt"
            result=$(timed "$protocol" get "$tool" "$(remote "$protocol" small)" \
                "$work/small-down.txt")
            if [[ $result != failed ]] && ! cmp -s "$work/small.txt" "$work/small-down.txt"; then
                result=failed
            fi
            small["$protocol $tool"]+="$result"$'\n'
        done
    done
}

small_median_ms() {
    grep -v '^failed' <<<"${small[$1]:-}" | sed '/^$/d' | cut -d' ' -f1 | median |
        awk '{ printf "%.0f", $1 * 1000 }'
}

print_small_table() {
    local protocol peer ft_ms peer_ms
    printf '| Protocol | Peer | filetransfer ms | peer ms | ratio |\n'
    printf '|---|---|---|---|---|\n'
    for protocol in $protocols; do
        ft_ms=$(small_median_ms "$protocol filetransfer")
        for peer in $(peers_of "$protocol"); do
            peer_ms=$(small_median_ms "$protocol $peer")
            printf '| %s | %s | %s | %s | %s |\n' "$protocol" "$peer" "${ft_ms:-failed}" \
                "${peer_ms:-failed}" "$(ratio "$ft_ms" "$peer_ms")"
        done
    done
}

# ---- Run ----

for protocol in $protocols; do
    run_transfers "$protocol"
    run_small "$protocol"
done

printf "%s MiB over loopback, median of %d alternating runs (small file: %d), servers' files in %s, %s, %s, %s, %s\n\n" \
    "$size_mb" "$runs" "$small_runs" "$server_files" "$(date -u +%Y-%m-%d)" \
    "$(curl --version | head -1 | cut -d' ' -f1-2)" "$(lftp --version | head -1 | sed 's/^LFTP | Version /lftp /; s/ |.*//')" \
    "$(ssh -V 2>&1 | cut -d, -f1)"
print_transfer_table
printf '\n27-byte get, median wall time:\n\n'
print_small_table
