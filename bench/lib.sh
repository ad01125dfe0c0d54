# Shared pieces of the transfer benchmarks (sourced by bench/*.sh from the
# project folder). make_source sets work (a scratch folder), expected (the
# sha256 of the source file) and upload_file (where uploads land); the caller
# sets runs and size_mb and defines measure KIND TOOL, which runs one timed
# transfer (downloads write $work/down.bin).

# need COMMAND WHAT: stops with a message when COMMAND is missing.
need() { command -v "$1" >/dev/null || { echo "bench: $2 is needed" >&2; exit 1; }; }

# Sets ft to the command-line program, built first unless FT_BIN names one.
build_command_line() {
    ft=${FT_BIN:-build/release/bin/filetransfer}
    [[ -z ${FT_BIN:-} ]] || return 0
    if [[ -d build/release ]]; then
        cmake --build build/release --target filetransfer_cli -j2 >/dev/null
    else
        bash scripts/build.sh release >/dev/null
    fi
}

# use_servers NAME...: starts the test servers unless the named ones all run,
# then loads their settings (FT_TEST_*).
use_servers() {
    local status name
    status=$(bash scripts/servers.sh status 2>/dev/null || true)
    for name in "$@"; do
        if [[ $status != *"$name: running"* ]]; then
            bash scripts/servers.sh start >/dev/null
            break
        fi
    done
    # shellcheck disable=SC1090
    source <(bash scripts/servers.sh env)
}

# make_source SOURCE UPLOAD: size_mb MiB of random bytes in SOURCE (the
# server's copy) and in $work/local.bin; SOURCE, UPLOAD and the scratch folder
# go at exit.
make_source() {
    source_file=$1
    upload_file=$2
    work=$(mktemp -d)
    trap 'rm -rf "$work"; rm -f "$source_file" "$upload_file"' EXIT
    echo "bench: generating $size_mb MiB in $source_file" >&2
    head -c "$((size_mb * 1024 * 1024))" /dev/urandom >"$source_file"
    chmod 0644 "$source_file"
    cp "$source_file" "$work/local.bin"
    expected=$(sha256sum <"$source_file" | cut -d' ' -f1)
}

# One timed run: prints "WALL CPU" (seconds).
timed() {
    /usr/bin/time -o "$work/time" -f '%e %U %S' "$@" >/dev/null 2>"$work/stderr" || {
        echo "bench: failed: $*" >&2
        cat "$work/stderr" >&2
        exit 1
    }
    awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }' "$work/time"
}

# The median of the "WALL CPU" lines, per column.
median() {
    local walls cpus middle
    middle=$(((runs + 1) / 2))
    walls=$(cut -d' ' -f1 <<<"$1" | sort -n | sed -n "${middle}p")
    cpus=$(cut -d' ' -f2 <<<"$1" | sort -n | sed -n "${middle}p")
    echo "$walls $cpus"
}

check() {
    local actual
    actual=$(sha256sum <"$1" | cut -d' ' -f1)
    [[ $actual == "$expected" ]] || { echo "bench: $2 produced a different file" >&2; exit 1; }
}

# run KIND TOOL: $runs runs, each checked, the medians printed.
run() {
    local kind=$1 tool=$2 lines="" i
    for ((i = 0; i < runs; i++)); do
        rm -f "$work/down.bin" "$upload_file"
        lines+="$(measure "$kind" "$tool")"$'\n'
        case $kind in
            *download) check "$work/down.bin" "$tool $kind" ;;
            *upload) check "$upload_file" "$tool $kind" ;;
        esac
    done
    median "$(sed '/^$/d' <<<"$lines")"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

# table PEER KIND...: the Markdown table of filetransfer against PEER (the tool
# name measure knows) for each kind.
table() {
    local peer=$1 kind ft_wall ft_cpu peer_wall peer_cpu
    shift
    printf '| Transfer | filetransfer wall s | %s wall s | wall ratio | filetransfer CPU s | %s CPU s | CPU ratio |\n' \
        "$peer" "$peer"
    printf '|---|---|---|---|---|---|---|\n'
    for kind in "$@"; do
        echo "bench: $kind" >&2
        read -r ft_wall ft_cpu <<<"$(run "$kind" filetransfer)"
        read -r peer_wall peer_cpu <<<"$(run "$kind" "$peer")"
        printf '| %s | %s | %s | %s | %s | %s | %s |\n' "$kind" "$ft_wall" "$peer_wall" \
            "$(ratio "$ft_wall" "$peer_wall")" "$ft_cpu" "$peer_cpu" "$(ratio "$ft_cpu" "$peer_cpu")"
    done
}
