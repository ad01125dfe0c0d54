#!/usr/bin/env bash
# Configures and builds one flavour of the project.
# Usage: scripts/build.sh release|asan|bench
set -euo pipefail
cd "$(dirname "$0")/.."

flavour=${1:-release}
case "$flavour" in
    release) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DFT_WERROR=ON) ;;
    asan)    flags=(-DCMAKE_BUILD_TYPE=Debug -DFT_SANITIZE=ON -DFT_WERROR=ON) ;;
    bench)   flags=(-DCMAKE_BUILD_TYPE=Release -DFT_BENCH=ON -DFT_TESTS=OFF) ;;
    *) echo "usage: $0 release|asan|bench" >&2; exit 2 ;;
esac

# A compiler cache, where one is installed, makes rebuilds in other checkouts cheap.
if command -v ccache >/dev/null; then
    flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$PWD")}
    # Debug info names the build folder; without this every checkout misses the cache.
    export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
fi

cmake -S . -B "build/$flavour" -G Ninja "${flags[@]}" >/dev/null
cmake --build "build/$flavour" -j "$(nproc)"
