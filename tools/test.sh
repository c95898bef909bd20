#!/usr/bin/env bash
# Builds Clipwright and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default -j2
