#!/usr/bin/env bash
# Saves screenshots of the desktop program's dialogs into docs/screenshots/: the real dialogs, shown
# on a virtual X display (Xvfb) with a window manager (openbox, when installed) drawing their frames.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target clipwright-screenshots

out="docs/screenshots"
mkdir -p "$out"
display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp &
xvfb_pid=$!
wm_pid=""
cleanup() {
    [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
sleep 1
if command -v openbox >/dev/null; then
    DISPLAY="$display" openbox >/dev/null 2>&1 &
    wm_pid=$!
    # The frames are drawn only once the window manager has taken the display.
    for _ in $(seq 50); do
        DISPLAY="$display" xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
        sleep 0.1
    done
    sleep 0.5
else
    echo "openbox is not installed: the screenshots will have no window frames" >&2
fi
DISPLAY="$display" QT_QPA_PLATFORM=xcb "$build/tools/screenshots/clipwright-screenshots" "$out"
