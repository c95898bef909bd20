#!/usr/bin/env bash
# Builds Clipwright and runs its main job: a cut-off demo recording is generated and repaired.
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
echo
echo "Repairing the demo recordings in $demo:"
./build/cli/clipwright-cli "$demo/cam01.avi"
./build/cli/clipwright-cli --resolution vga --fps 15 "$demo/cam02.avi"
echo
ls -l "$demo"
