#!/usr/bin/env bash
# Builds Clipwright and runs every test: once in the normal build, once built with
# AddressSanitizer and UndefinedBehaviorSanitizer; then the engine's and the desktop program's tests
# once more built with ThreadSanitizer, which checks the hand-overs between the job and the dialogs;
# then a minute of fuzzing the structure reader and the walk of the movi list, where clang has
# libFuzzer (CLIPWRIGHT_FUZZ_SECONDS in the fuzz build sets how long).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh

for preset in default asan tsan; do
    echo "== $preset build =="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset" -j2
done

# The run needs the fuzzing engine, which only clang has; without it the run is skipped, not failed.
if echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
    clang++ -x c++ -fsanitize=fuzzer,address,undefined -o /dev/null - 2>/dev/null; then
    echo "== fuzz build =="
    cmake --preset fuzz >/dev/null
    cmake --build --preset fuzz
    ctest --preset fuzz
else
    echo "== fuzz run skipped: clang++ with libFuzzer is not installed (clang and libclang-rt-14-dev) =="
fi
