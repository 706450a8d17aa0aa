#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (into build-fuzz) and runs each for a
# bounded time, starting from the committed corpus under fuzz/corpus/<target>.
# Usage: scripts/fuzz.sh [seconds per target, default 60]
# New corpus entries stay in build-fuzz/corpus; crashes, leaks, time-outs and
# running out of memory (resident memory over $rss_mb MB, or one allocation
# over $malloc_mb MB, for inputs of at most 128 KB) are written to
# build-fuzz/findings/<target>/ and counted; fuzzing goes on after a finding
# so that every target gets its whole time. Exit status 1 when a finding is in
# project code, 2 when findings are only inside a library (kept, with what is
# known of them).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-${KV930_FUZZ_SECONDS:-60}}
# Out of memory counts as a finding: an import must stay within a small
# multiple of its file's size.
rss_mb=512
malloc_mb=64
limits=(-rss_limit_mb=$rss_mb -malloc_limit_mb=$malloc_mb)
# A small quarantine keeps the sanitizer's own memory out of the count.
asan="detect_leaks=1:quarantine_size_mb=32"

need=()
for p in clang ninja-build cmake pkg-config qtbase5-dev libfreexl-dev libgsf-1-dev libzip-dev zlib1g-dev; do
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

ours=0
theirs=0
flaky=0
summary=()
for target in fuzz_xls fuzz_xlsx fuzz_csv fuzz_settings; do
    name=${target#fuzz_}
    work="$build/corpus/$name"
    findings="$build/findings/$name"
    mkdir -p "$work" "$findings"
    rm -f "$findings"/*
    echo "== $target: ${seconds}s"
    # fuzz/lsan.supp names leaks inside libraries this project cannot change.
    status=0
    # -ignore_ooms=0: running out of memory is a crash like any other, and
    # -ignore_crashes=1 goes on fuzzing after it.
    ASAN_OPTIONS=$asan \
    LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp:print_suppressions=0" \
    "$build/$target" "$work" "fuzz/corpus/$name" \
        -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=0 \
        -max_total_time="$seconds" -timeout=10 "${limits[@]}" -max_len=131072 \
        -artifact_prefix="$findings/" \
        >"$build/$target.log" 2>&1 || status=$?
    found=$(find "$findings" -type f | wc -l)
    runs=$(grep -Eo '^#[0-9]+' "$build/$target.log" | tail -n 1 | tr -d '#' || true)
    if [ "$status" -ne 0 ] && [ "$found" -eq 0 ]; then
        echo "$target stopped without a finding (status $status):"
        tail -n 40 "$build/$target.log"
        ours=$((ours + 1))
    fi
    # Replay each finding once to see where it happened: the first frames of
    # its report, without addresses, name the fault.
    inProject=0
    inLibraries=0
    unreproduced=0
    : >"$build/$target.signatures"
    for input in "$findings"/*; do
        [ -f "$input" ] || continue
        report=$(ASAN_OPTIONS=$asan LSAN_OPTIONS="suppressions=$PWD/fuzz/lsan.supp:print_suppressions=0" \
            "$build/$target" "${limits[@]}" "$input" 2>&1 || true)
        # The first frames that are not the fuzzer's or the sanitizer's own
        # (its hooks, interceptors and allocators) say whose code did it.
        frames=$(grep -E '^ +#[0-9]+ ' <<<"$report" |
            grep -vE ' in (fuzzer::|__sanitizer|__asan|__interceptor_|malloc|calloc|realloc|operator new|MallocHook)' |
            sed -E 's/0x[0-9a-f]+//g; s/\(BuildId: [0-9a-f]+\)//; s/ +/ /g' | head -n 4 || true)
        kind=$(grep -Eo 'ERROR: [A-Za-z]+: [a-z-]+' <<<"$report" | head -n 1 || true)
        culprit=$(head -n 1 <<<"$frames" || true)
        if [ -z "$kind" ]; then
            # The input passes alone: the fault depended on what ran before it
            # in the same process (an over-read that found stale memory).
            unreproduced=$((unreproduced + 1))
            echo "not reproduced alone | - | $input" >>"$build/$target.signatures"
        elif grep -Eq 'lib(freexl|gsf-1|glib-2\.0|zip|z)\.so' <<<"$culprit"; then
            inLibraries=$((inLibraries + 1))
            echo "library | ${kind:-unknown} | $(tr '\n' ' ' <<<"$frames")" >>"$build/$target.signatures"
        else
            inProject=$((inProject + 1))
            echo "project | ${kind:-unknown} | $(tr '\n' ' ' <<<"$frames") | $input" >>"$build/$target.signatures"
        fi
    done
    if [ "$found" -gt 0 ]; then
        echo "$target findings by place and kind:"
        cut -d'|' -f1-3 "$build/$target.signatures" | sort | uniq -c | sort -rn
    fi
    ours=$((ours + inProject))
    theirs=$((theirs + inLibraries))
    flaky=$((flaky + unreproduced))
    summary+=("$target: ${runs:-0} inputs run, $inProject findings in project code, $inLibraries inside libraries, $unreproduced not reproduced alone (log: $build/$target.log)")
done

echo
printf '%s\n' "${summary[@]}"
echo "findings in project code: $ours"
if [ "$theirs" -gt 0 ]; then
    echo "inputs failing inside a library (a fault the reader must keep away from): $theirs"
fi
if [ "$flaky" -gt 0 ]; then
    echo "findings that pass when replayed alone: $flaky (listed in $build/*.signatures)"
fi
[ "$ours" -gt 0 ] && exit 1
[ "$theirs" -gt 0 ] || [ "$flaky" -gt 0 ] && exit 2
exit 0
