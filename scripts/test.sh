#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; then the same tests
# under AddressSanitizer and UndefinedBehaviorSanitizer (skip those with
# KV930_SKIP_SANITIZE=1).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

scripts/build.sh build
ctest --test-dir build --output-on-failure -j "$(nproc)"

if [ "${KV930_SKIP_SANITIZE:-0}" != 1 ]; then
    scripts/build.sh build-sanitize -DKV930_SANITIZE=ON -DKV930_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
    ctest --test-dir build-sanitize --output-on-failure -j "$(nproc)"
fi
