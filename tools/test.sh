#!/usr/bin/env bash
# Builds Clipwright and runs every test: once in the normal build, once built with
# AddressSanitizer and UndefinedBehaviorSanitizer; then the engine's and the desktop program's tests
# once more built with ThreadSanitizer, which checks the hand-overs between the job and the dialogs.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh

for preset in default asan tsan; do
    echo "== $preset build =="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset" -j2
done
