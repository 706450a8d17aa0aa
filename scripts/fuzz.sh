#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (into build-fuzz) and runs each for a
# bounded time, starting from the committed corpus under fuzz/corpus/<target>.
# Usage: scripts/fuzz.sh [seconds per target, default 60]
# New corpus entries stay in build-fuzz/corpus; crashes, leaks and time-outs
# are written to build-fuzz/findings/<target>/ and counted. Exit status 1 when
# any target found one.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-${KV930_FUZZ_SECONDS:-60}}

need=()
for p in clang ninja-build cmake pkg-config qtbase5-dev libfreexl-dev; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

build=build-fuzz
CXX=clang++ cmake -S fuzz -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "${KV930_JOBS:-2}"

total=0
summary=()
for target in fuzz_xls fuzz_settings; do
    name=${target#fuzz_}
    work="$build/corpus/$name"
    findings="$build/findings/$name"
    mkdir -p "$work" "$findings"
    rm -f "$findings"/*
    echo "== $target: ${seconds}s"
    # Qt keeps a few process-wide caches alive on purpose; the project's leak
    # suppressions name them.
    status=0
    ASAN_OPTIONS=detect_leaks=1 \
    LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0" \
    "$build/$target" "$work" "fuzz/corpus/$name" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=131072 \
        -artifact_prefix="$findings/" -print_final_stats=1 \
        >"$build/$target.log" 2>&1 || status=$?
    found=$(find "$findings" -type f | wc -l)
    runs=$(grep -Eo 'stat::number_of_executed_units: *[0-9]+' "$build/$target.log" | grep -Eo '[0-9]+$' || echo 0)
    if [ "$status" -ne 0 ] && [ "$found" -eq 0 ]; then
        found=1 # stopped for another reason: count it and show the log
    fi
    if [ "$found" -gt 0 ]; then
        tail -n 40 "$build/$target.log"
        ls -1 "$findings"
    fi
    summary+=("$target: $runs inputs run, $found crashes (log: $build/$target.log)")
    total=$((total + found))
done

echo
printf '%s\n' "${summary[@]}"
echo "crashes found: $total"
[ "$total" -eq 0 ]
