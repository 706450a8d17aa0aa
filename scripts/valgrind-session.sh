#!/usr/bin/env bash
# Builds the scripted session test (RelWithDebInfo, into build-valgrind) and
# runs it under valgrind's memcheck: any memory error or definite leak fails.
# Known noise of Qt, fontconfig and the offscreen platform is suppressed by
# tests/session/valgrind.supp. The full report goes to build-valgrind/valgrind.log.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
if ! command -v valgrind >/dev/null; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get install -y -qq --no-install-recommends valgrind
fi

build=build-valgrind
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV930_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "${KV930_JOBS:-$(nproc)}" --target tst_session kv930_test_plugins

status=0
QT_QPA_PLATFORM=offscreen valgrind --leak-check=full --errors-for-leak-kinds=definite \
    --error-exitcode=1 --num-callers=30 \
    --suppressions=tests/session/valgrind.supp --log-file="$build/valgrind.log" \
    "$build/tests/tst_session" || status=$?

grep -E "ERROR SUMMARY|definitely lost|indirectly lost|possibly lost|still reachable" \
    "$build/valgrind.log" || true
if [ "$status" -eq 0 ]; then
    echo "valgrind session: clean"
else
    echo "valgrind session: FAILED (status $status), see $build/valgrind.log"
fi
exit "$status"
