#!/usr/bin/env bash
# Fuzzes the structure reader for other recorders' AVIs, and the walk of the movi list it finds, with
# libFuzzer (clang from Debian), under AddressSanitizer and UndefinedBehaviorSanitizer, in memory, in
# one process (one core of a shared machine).
#   bash tools/fuzz-structure.sh [SECONDS]     default 600
#   bash tools/fuzz-structure.sh merge         folds new inputs that find new paths into tests/fuzz/structure-corpus
# Seeds are the first bytes of files that real writers make here (ffmpeg with several codecs, to a
# file and to a pipe, GStreamer's avimux through a pipe, MEncoder) and of our generator's camera
# recordings. Crashes land in build-fuzz/structure-crashes: keep each one in tests/fuzz/crashes once
# it is fixed.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-fuzz
bash tools/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCLIPWRIGHT_SANITIZE=ON -DCLIPWRIGHT_FUZZ=ON >/dev/null
cmake --build "$build" --target fuzz_structure clipwright-recgen >/dev/null

corpus="$build/structure-corpus"
seeds="$build/structure-seeds"
mkdir -p "$corpus" "$build/structure-crashes" "$seeds" tests/fuzz/structure-corpus
fuzzer="$build/tests/fuzz/fuzz_structure"
max_len=16384

if [ "${1:-}" = "merge" ]; then
    # Edges only, not hit counts: the stored corpus stays small.
    "$fuzzer" -merge=1 -use_counters=0 -max_len=$max_len tests/fuzz/structure-corpus "$corpus" "$seeds"
    exit 0
fi

seconds=${1:-600}
# The header block and the first 2 KiB behind the start of the movi list (or the first 4 KiB).
cut_after_movi() { # file
    local at
    at=$(LC_ALL=C grep -obUaF movi "$1" | head -n 1 | cut -d: -f1 || true)
    head -c $((${at:-2048} + 2048)) "$1" >"$1.head"
    mv "$1.head" "$1"
}
ffmpeg_avi() { # name, video options, audio options (none: video only)
    local inputs=(-f lavfi -i "testsrc=size=32x32:rate=10")
    [ -n "${3:-}" ] && inputs+=(-f lavfi -i "sine=frequency=440:sample_rate=8000")
    ffmpeg -nostdin -v error -y "${inputs[@]}" -t 1 $2 ${3:-} -f avi "$seeds/$1"
    cut_after_movi "$seeds/$1"
}
ffmpeg_avi ffmpeg-mpeg4-adpcm.avi "-c:v mpeg4" "-c:a adpcm_ms"
ffmpeg_avi ffmpeg-mjpeg-pcm.avi "-c:v mjpeg" "-c:a pcm_s16le"
ffmpeg_avi ffmpeg-h264-mp3.avi "-c:v libx264 -pix_fmt yuv420p" "-c:a libmp3lame"
ffmpeg_avi ffmpeg-xvid-mulaw.avi "-c:v libxvid" "-c:a pcm_mulaw"
ffmpeg_avi ffmpeg-video-only.avi "-c:v mpeg4"
# Written to a pipe, a header keeps the placeholders it started with.
ffmpeg -nostdin -v error -f lavfi -i testsrc=size=32x32:rate=10 -f lavfi -i sine=sample_rate=8000 -t 1 \
    -c:v mpeg4 -c:a adpcm_ms -f avi pipe:1 >"$seeds/ffmpeg-pipe.avi"
cut_after_movi "$seeds/ffmpeg-pipe.avi"
# avimux fails when it seeks back to finish its header; that unfinished header is the seed.
{ gst-launch-1.0 -q videotestsrc num-buffers=5 ! video/x-raw,width=32,height=32,framerate=10/1 ! jpegenc ! mux. \
    audiotestsrc num-buffers=5 ! audio/x-raw,rate=8000,channels=1 ! mux. avimux name=mux ! fdsink fd=1 \
    2>/dev/null || true; } | cat >"$seeds/gstreamer-pipe.avi"
cut_after_movi "$seeds/gstreamer-pipe.avi"
mencoder -really-quiet "$seeds/ffmpeg-mjpeg-pcm.avi" -ovc copy -oac pcm -o "$seeds/mencoder.avi" >/dev/null 2>&1
cut_after_movi "$seeds/mencoder.avi"
recgen="$build/tools/recgen/clipwright-recgen"
for layout in standard other-list; do
    "$recgen" "$seeds/camera-$layout.avi" --resolution 160x112 --frames 3 --layout $layout >/dev/null 2>&1
    cut_after_movi "$seeds/camera-$layout.avi"
done

"$fuzzer" -max_total_time="$seconds" -max_len=$max_len -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$build/structure-crashes/" -print_final_stats=1 \
    "$corpus" tests/fuzz/structure-corpus "$seeds"
