#!/usr/bin/env bash
# Takes the manual's screenshots of the real program, driven by mouse clicks on a
# virtual display (Xvfb) with the virtual meter as its driver.
# usage: docs/screenshots.sh [build dir]   (needs xvfb-run and xdotool)
# The click positions belong to the window's default 1000x600 layout, which
# fills the virtual screen exactly (no window manager, no frame).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
out=$PWD/docs/images
for tool in xvfb-run xdotool; do
    command -v "$tool" >/dev/null || { echo "screenshots.sh needs $tool" >&2; exit 1; }
done
[ -x "$build/kv930" ] && [ -x "$build/tools/grabscreen" ] || {
    echo "build kv930, virtualmeter and grabscreen in $build first" >&2; exit 1; }

# A fresh start: no remembered geometry, the virtual meter's default settings.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -a "$build/kv930" "$work/"
mkdir "$work/Lib"
cp -a "$build/Lib/virtualmeter.so" "$work/Lib/"
printf '[meter]\nrate=4\nunit=dBm\nstoredCount=120\n' >"$work/Lib/virtualmeter.ini"
# References and limits are kept in the user's configuration: a fresh one.
export XDG_CONFIG_HOME="$work/config"
export XDG_DATA_HOME="$work/data" # and a journal of its own

xvfb-run -a -s "-screen 0 1000x600x24" bash -c '
    set -e
    app=$1; grab=$2; out=$3
    click() { xdotool mousemove "$1" "$2" click 1; sleep "${3:-1}"; }
    "$app" & pid=$!
    sleep 4
    "$grab" "$out/start.png"
    click 47 47 2              # Connect
    click 205 47 8             # Start: about 30 live readings
    "$grab" "$out/recording.png"
    click 355 107 2            # Chart tab
    "$grab" "$out/chart.png"
    click 265 107 1            # Table tab
    xdotool key alt+a Return   # Analysis > Set Reference
    sleep 1
    xdotool key alt+a Down Down Return # Analysis > Limits...
    sleep 1
    xdotool type -- "-0.03"    # loss limits around the reference
    xdotool key Tab
    xdotool type "0.03"
    xdotool key Return
    sleep 6
    "$grab" "$out/analysis.png"
    click 253 47               # Stop
    click 98 510               # the "Store Data" row (below the statistics)
    click 58 478 4             # Download (second button of the item tool bar)
    "$grab" "$out/download.png"
    click 405 47 2             # Export: the export chooser
    "$grab" "$out/export.png"
    xdotool key Escape
    sleep 1
    kill $pid
' _ "$work/kv930" "$build/tools/grabscreen" "$out"
# Two meters compared in the chart: the window test that records the virtual
# KV930 and a laboratory meter (our SCPI simulator) at once saves its window.
QT_QPA_PLATFORM=offscreen KV930_SCREENSHOT="$out/meters.png" \
    "$build/tests/tst_app_meters" twoMetersRecordAtOnce >/dev/null
ls -l "$out"
