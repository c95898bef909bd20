#!/usr/bin/env bash
# Fuzzes the codec header readers and the camera settings detector with libFuzzer (clang from
# Debian), under AddressSanitizer and UndefinedBehaviorSanitizer, in memory.
#   bash tools/fuzz-codec.sh [SECONDS]     default 300
#   bash tools/fuzz-codec.sh merge         folds new inputs that find new paths into tests/fuzz/codec-corpus
# Seeds are made here by Debian's ffmpeg encoders and our recording generator. Crashes land in
# build-fuzz/codec-crashes.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-fuzz
bash tools/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCLIPWRIGHT_SANITIZE=ON -DCLIPWRIGHT_FUZZ=ON >/dev/null
cmake --build "$build" --target fuzz_codec clipwright-recgen >/dev/null

corpus="$build/codec-corpus"
seeds="$build/codec-seeds"
mkdir -p "$corpus" "$build/codec-crashes" "$seeds"
fuzzer="$build/tests/fuzz/fuzz_codec"

if [ "${1:-}" = "merge" ]; then
    # Edges only, not hit counts: the stored corpus stays small.
    "$fuzzer" -merge=1 -use_counters=0 -max_len=16384 tests/fuzz/codec-corpus "$corpus"
    exit 0
fi

seconds=${1:-300}
encode() { # name, size, rate, encoder and format options
    ffmpeg -nostdin -v error -y -f lavfi -i "testsrc=size=$2:rate=$3" -frames:v 3 $4 "$seeds/$1"
}
encode mpeg4.m4v 32x32 15 "-c:v mpeg4 -bf 1 -g 2 -f m4v"
encode xvid.m4v 32x32 10 "-c:v libxvid -f m4v"
encode mjpeg.jpg 16x16 10 "-c:v mjpeg -frames:v 1 -f mjpeg"
encode h264.h264 32x18 25 "-c:v libx264 -pix_fmt yuv420p -x264-params keyint=2 -f h264"
encode h264-fields.h264 32x18 25 "-c:v libx264 -pix_fmt yuv444p -flags +ildct+ilme -f h264"
recgen="$build/tools/recgen/clipwright-recgen"
"$recgen" "$seeds/camera.avi" --resolution 160x112 --frames 3 --layout header-lost --data-start 0 >/dev/null

"$fuzzer" -max_total_time="$seconds" -max_len=16384 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$build/codec-crashes/" -print_final_stats=1 \
    "$corpus" tests/fuzz/codec-corpus "$seeds"
