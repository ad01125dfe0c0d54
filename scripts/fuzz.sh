#!/usr/bin/env bash
# Builds every libFuzzer target of tests/fuzz/targets.txt with clang, AddressSanitizer
# and UndefinedBehaviorSanitizer, and runs each for FT_FUZZ_SECONDS (default 20) on a
# copy of its seed corpus. A crash, a leak, a sanitizer finding or a build failure
# fails the script; the reproducer is left in build/fuzz/NAME-findings/.
# Usage: scripts/fuzz.sh [NAME]...   (default: every target)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh clang libclang-rt-14-dev

seconds=${FT_FUZZ_SECONDS:-20}
out=build/fuzz
mkdir -p "$out/obj"
flags=(-std=c++20 -g -O1 -fconstexpr-steps=200000000 -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -I.)
launcher=()
command -v ccache >/dev/null && launcher=(env CCACHE_NOHASHDIR=1 ccache)

# Each source is compiled once per run, whichever targets share it.
declare -A compiled=()
object_of() {
    local source=$1 object
    object=$out/obj/${source//\//_}.o
    if [ -z "${compiled[$source]:-}" ]; then
        "${launcher[@]}" clang++ "${flags[@]}" -c "$source" -o "$object" \
            2>>"$out/build.log" || return 1
        compiled[$source]=1
    fi
    echo "$object"
}

status=0
: >"$out/build.log"
while read -r name max_len sources; do
    case $name in '' | '#'*) continue ;; esac
    if [ $# -gt 0 ] && [[ " $* " != *" $name "* ]]; then continue; fi
    echo "== fuzz $name (${seconds}s)"
    objects=()
    built=1
    # shellcheck disable=SC2086  # the source list may hold globs
    for source in tests/fuzz/${name}_fuzzer.cc $sources; do
        if ! object=$(object_of "$source"); then built=0; break; fi
        objects+=("$object")
    done
    if [ $built -eq 0 ] || ! clang++ -fsanitize=fuzzer,address,undefined "${objects[@]}" \
        -lz -o "$out/$name" 2>>"$out/build.log"; then
        tail -n 40 "$out/build.log" >&2
        echo "fuzz: $name does not build" >&2
        status=1
        continue
    fi
    corpus=$out/$name-corpus
    findings=$out/$name-findings
    rm -rf "$corpus" "$findings"
    mkdir -p "$corpus" "$findings"
    if [ -d "tests/fuzz/${name}_corpus" ]; then cp "tests/fuzz/${name}_corpus"/* "$corpus"/; fi
    if ! "$out/$name" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
        -rss_limit_mb=512 -artifact_prefix="$findings/" -print_final_stats=0 "$corpus" \
        >"$out/$name.log" 2>&1; then
        tail -n 40 "$out/$name.log" >&2
        echo "fuzz: $name found a fault; reproducer in $findings" >&2
        status=1
    else
        grep -E '^Done [0-9]+ runs' "$out/$name.log" || true
    fi
done <tests/fuzz/targets.txt
exit $status
