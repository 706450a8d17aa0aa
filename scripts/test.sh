#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; then the same tests
# built with Qt 6 (Release; skip with KV930_SKIP_QT6=1) and under
# AddressSanitizer and UndefinedBehaviorSanitizer (skip with KV930_SKIP_SANITIZE=1).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

scripts/build.sh build
ctest --test-dir build --output-on-failure -j "$(nproc)"

if [ "${KV930_SKIP_QT6:-0}" != 1 ]; then
    scripts/build.sh build-qt6 -DKV930_QT_MAJOR=6 -DCMAKE_BUILD_TYPE=Release -DKV930_BUILD_BENCH=OFF
    ctest --test-dir build-qt6 --output-on-failure -j "$(nproc)"
fi

if [ "${KV930_SKIP_SANITIZE:-0}" != 1 ]; then
    scripts/build.sh build-sanitize -DKV930_SANITIZE=ON -DKV930_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
    ctest --test-dir build-sanitize --output-on-failure -j "$(nproc)"
fi
