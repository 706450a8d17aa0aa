#!/usr/bin/env bash
# Builds with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-sanitize and runs the whole test suite there. Extra arguments go to
# ctest (for example -R tst_app).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=${KV930_JOBS:-$(nproc)}
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKV930_SANITIZE=ON \
    -DKV930_BUILD_BENCH=OFF >/dev/null
cmake --build build-sanitize -j "$jobs"
ctest --test-dir build-sanitize --output-on-failure -j "$jobs" "$@"
