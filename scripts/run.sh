#!/usr/bin/env bash
# Installs what is missing, builds the program and its drivers (not the tests and
# benchmarks: scripts/test.sh builds those), and starts it with the virtual meter.
# On a machine without a display the program runs on a virtual one (Xvfb) and a
# screenshot of the window is written after start-up.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build --target kv930_program

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec build/kv930
fi

shot="$PWD/build/kv930-screenshot.png"
echo "No display found: starting kv930 on a virtual display (Xvfb)."
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    "$1/build/kv930" & app=$!
    sleep 4
    "$1/build/tools/grabscreen" "$2"
    echo "kv930 is running on the virtual display; screenshot of the window: $2"
    echo "Press Ctrl+C to stop it."
    wait $app
' _ "$PWD" "$shot"
