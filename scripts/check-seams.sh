#!/usr/bin/env bash
# Keeps the operating system and the outside libraries behind their seams: only
# platform/, net/ and tls/ (and the command line's terminal handling) include
# system headers or call the system's clock, zone and socket functions; only tls/
# includes OpenSSL, only the engines that compress include zlib, only pac/ and
# the script host (script/) include the JavaScript engine, and only net/ waits
# on descriptors. Prints each stray
# line and exits 1 when there is one.
set -uo pipefail
cd "$(dirname "$0")/.."

engines=(crypto ssh url pac http ftp control script resources cli)
# Headers with a ".h" or a folder that the engines may still include: the C
# library's fixed-width types and, where named, the outside libraries.
allowed_headers='stdint\.h|stddef\.h'
declare -A module_headers=(
    [crypto]='immintrin\.h|cpuid\.h'
    [http]='zlib\.h'
    [ftp]='zlib\.h'
    [ssh]='zlib\.h'
    [pac]='duktape\.h|duk_config\.h'
    [script]='duktape\.h|duk_config\.h'
)
# The command line's terminal prompt and progress line read the terminal.
terminal_files='^cli/(prompt|progress_line)\.cpp:'
calls='\b(poll|ppoll|epoll_wait|pselect|timegm|gmtime_r|localtime_r|mktime|setsockopt|getsockopt|ioctl|fcntl)[[:space:]]*\(|::select[[:space:]]*\('

strays=0
report() {
    while IFS= read -r line; do
        [ -z "$line" ] && continue
        echo "seams: $1: $line" >&2
        strays=1
    done
}

for module in "${engines[@]}"; do
    [ -d "$module" ] || continue
    headers="$allowed_headers"
    [ -n "${module_headers[$module]:-}" ] && headers="$headers|${module_headers[$module]}"
    report "system or library header outside its seam" < <(
        grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<[^>]*(\.h|/)[^>]*>' \
            --include='*.cpp' --include='*.h' --include='*.c' "$module" |
            grep -vE "<($headers)>" | grep -vE "$terminal_files")
    report "system call outside platform/ and net/" < <(
        grep -rnE "$calls" --include='*.cpp' --include='*.h' --include='*.c' "$module" |
            grep -vE '^[^:]+:[0-9]+:[[:space:]]*//')
done

# The layers below and beside net/ may call the system, but every wait on a
# descriptor is net/'s.
report "a descriptor wait outside net/" < <(
    grep -rnE '\b(poll|ppoll|epoll_wait|pselect|select)[[:space:]]*\(' \
        --include='*.cpp' --include='*.h' --include='*.c' platform tls |
        grep -vE '^[^:]+:[0-9]+:[[:space:]]*//')

if [ "$strays" -ne 0 ]; then
    echo "seams: keep system calls in platform/ or net/ and OpenSSL in tls/" >&2
    exit 1
fi
echo "seams: clean"
