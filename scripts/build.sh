#!/usr/bin/env bash
# Configures and builds into the folder given (default: build). Extra arguments go to cmake,
# but for "--target NAME", which builds only NAME (e.g. kv930_program: the program and its
# drivers) instead of everything.
# ccache, when installed, serves compilations already made in another build
# folder or work tree (paths below the checkout's parent are compared relatively).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
configure=()
targets=()
while [ $# -gt 0 ]; do
    if [ "$1" = --target ] && [ $# -ge 2 ]; then
        targets+=(--target "$2")
        shift 2
    else
        configure+=("$1")
        shift
    fi
done
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$PWD")}
fi
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "${configure[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
