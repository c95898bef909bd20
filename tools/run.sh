#!/usr/bin/env bash
# Builds Clipwright, makes two cut-off demo recordings in build/demo and starts the desktop program
# on them. With --cli (or with no display to show a window on) the command-line tool repairs them
# instead.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default

demo="build/demo"
rm -rf "$demo"
mkdir -p "$demo"
./build/tools/recgen/clipwright-recgen --frames 150 --repeat-every 6 --companion "$demo/cam01.avi"
./build/tools/recgen/clipwright-recgen --layout header-lost --frames 90 "$demo/cam02.avi"

if [ "${1:-}" != "--cli" ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
    echo
    echo "Starting Clipwright. Choose $demo/cam01.avi (header intact) or $demo/cam02.avi (header lost,"
    echo "so it asks for the image settings) with \"Select AVI File\", then press Fix."
    exec ./build/ui/Clipwright
fi

[ "${1:-}" = "--cli" ] || echo "No display to show the desktop program on: repairing with the command-line tool."
echo
echo "Repairing the demo recordings in $demo:"
./build/cli/clipwright-cli "$demo/cam01.avi"
./build/cli/clipwright-cli --resolution vga --fps 15 "$demo/cam02.avi"
echo
ls -l "$demo"
