#!/usr/bin/env bash
# Fuzzes the repair engine with libFuzzer (clang from Debian), under AddressSanitizer and
# UndefinedBehaviorSanitizer, starting from the stored corpus and generated recordings.
#   bash tools/fuzz.sh [SECONDS]        default 600
# New inputs land in build-fuzz/corpus; `tools/fuzz.sh merge` folds the ones that find new paths
# into tests/fuzz/corpus, which every test run replays. Crashes land in build-fuzz/crashes: keep each
# one in tests/fuzz/crashes once it is fixed.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-fuzz
if ! command -v clang++ >/dev/null; then
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd=sudo
    $sudo_cmd apt-get install -y -q clang libclang-rt-14-dev
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCLIPWRIGHT_SANITIZE=ON -DCLIPWRIGHT_FUZZ=ON >/dev/null
cmake --build "$build" --target fuzz_repair clipwright-recgen >/dev/null

mkdir -p "$build/corpus" "$build/crashes" "$build/seeds" "$build/scratch"
export CLIPWRIGHT_FUZZ_DIR="$PWD/$build/scratch"
fuzzer="$build/tests/fuzz/fuzz_repair"

if [ "${1:-}" = "merge" ]; then
    "$fuzzer" -merge=1 -max_len=65536 tests/fuzz/corpus "$build/corpus"
    exit 0
fi

seconds=${1:-600}
recgen="$build/tools/recgen/clipwright-recgen"
common=(--resolution 160x112 --frames 6)
"$recgen" "$build/seeds/standard.avi" "${common[@]}" --repeat-every 3 >/dev/null
"$recgen" "$build/seeds/finalised.avi" "${common[@]}" --finalised >/dev/null
"$recgen" "$build/seeds/shifted.avi" "${common[@]}" --layout shifted >/dev/null
"$recgen" "$build/seeds/lost.avi" "${common[@]}" --layout header-lost --data-start 300 >/dev/null
"$recgen" "$build/seeds/other.avi" "${common[@]}" --layout other-list >/dev/null
"$recgen" "$build/seeds/cut.avi" "${common[@]}" --cut 37 --audio-header shifted-by-8 >/dev/null
"$recgen" "$build/seeds/odd.avi" "${common[@]}" --pad-odd --lying-size 3:0x80000000 >/dev/null

"$fuzzer" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=4096 \
    -artifact_prefix="$build/crashes/" -print_final_stats=1 \
    "$build/corpus" tests/fuzz/corpus "$build/seeds"
