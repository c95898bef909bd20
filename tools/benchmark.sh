#!/usr/bin/env bash
# Repairs generated 1 GiB recordings and reports, measured in this one run with a warm cache, the
# repair's wall time, CPU time and peak memory beside the plainest way to do the same reading:
#   camera, in place      vs  chunk-walk-floor (one 12-byte read per chunk)
#   camera, rebuild       vs  dd bs=1M conv=fsync of the same file, and ffmpeg -c copy of a standard twin;
#                             vs  dd bs=1M of the same file, both on tmpfs
#   ffmpeg's AVI, in place vs chunk-walk-floor --riff
#   ffmpeg's AVI, new file vs dd bs=1M of the same file, both on tmpfs, and ffmpeg -c copy of it
# and what clipwright-cli does with a file past 1 GiB, which ffmpeg continues in an AVIX part.
# Each figure is the median of RUNS runs (default 3). Not a test: nothing here passes or fails.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${RUNS:-3}
size=${SIZE:-1G}
work=${BENCH_DIR:-build/bench}
# New files are written here, so that writing back to a disk is no part of what is measured.
tmpfs=${BENCH_TMPFS:-/dev/shm}/clipwright-bench.$$

bash tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target clipwright-cli clipwright-recgen chunk-walk-floor measured-run >/dev/null

recgen=build/tools/recgen/clipwright-recgen
cli=build/cli/clipwright-cli
floor=build/tools/bench/chunk-walk-floor
measured=build/tools/bench/measured-run
rm -rf "$work"
mkdir -p "$work" "$tmpfs"
trap 'rm -rf "$tmpfs"' EXIT

# Prints "seconds cpu-seconds peak-kilobytes" of one command; its output stays in $work/stdout.txt.
measure() {
    "$measured" "$work/stdout.txt" "$work/stderr.txt" "$@" || {
        cat "$work/stderr.txt" >&2
        return 1
    }
}

# Medians of the seconds, the CPU seconds and the peak memory over $runs runs; `prepare` runs
# untimed before each.
median_of() {
    local prepare=$1
    shift
    local times=() cpus=() peaks=()
    for _ in $(seq "$runs"); do
        $prepare
        read -r seconds cpu peak < <(measure "$@")
        times+=("$seconds")
        cpus+=("$cpu")
        peaks+=("$peak")
    done
    echo "$(printf '%s\n' "${times[@]}" | middle) $(printf '%s\n' "${cpus[@]}" | middle)" \
        "$(printf '%s\n' "${peaks[@]}" | middle)"
}
middle() { sort -n | sed -n "$(((runs + 1) / 2))p"; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
row() { printf '%-44s %8s s %7s s CPU %9s KiB  %s\n' "$@"; }
nothing() { :; }
# Dirty pages left by the preparation would be written back during the timed run: sync first.
warm() {
    sync
    cat "$1" >/dev/null
}

echo "== In-place repair of a cut-off $size camera recording =="
"$recgen" "$work/standard.avi" --size "$size" --repeat-every 5 >/dev/null
"$recgen" "$work/small.avi" --size 64M --repeat-every 5 >/dev/null
cp --reflink=never "$work/small.avi" "$work/small-pristine.avi"
head -c 4096 "$work/standard.avi" >"$work/standard.head"
original_size=$(stat -c %s "$work/standard.avi")
chunks=$("$floor" "$work/standard.avi" | cut -d' ' -f1)
small_chunks=$("$floor" "$work/small.avi" | cut -d' ' -f1)
restore_standard() {
    truncate -s "$original_size" "$work/standard.avi"
    dd if="$work/standard.head" of="$work/standard.avi" conv=notrunc status=none
    warm "$work/standard.avi"
}
restore_small() { cp --reflink=never "$work/small-pristine.avi" "$work/small.avi"; }

read -r floor_s floor_cpu floor_kb < <(median_of restore_standard "$floor" "$work/standard.avi")
read -r repair_s repair_cpu repair_kb < <(median_of restore_standard "$cli" --replace "$work/standard.avi")
read -r _ _ small_kb < <(median_of restore_small "$cli" --replace "$work/small.avi")
row "floor: one 12-byte read per chunk" "$floor_s" "$floor_cpu" "$floor_kb" "1.00"
row "clipwright-cli --replace" "$repair_s" "$repair_cpu" "$repair_kb" "$(ratio "$repair_s" "$floor_s")"
echo "time ratio to the floor: $(ratio "$repair_s" "$floor_s") (target at most 1.5)"
echo "chunks: $chunks in $size, $small_chunks in 64M"
echo "peak memory growth per extra chunk: $(awk -v a="$repair_kb" -v b="$small_kb" -v c="$chunks" -v d="$small_chunks" \
    'BEGIN { if (c > d) printf "%.1f bytes", (a - b) * 1024 / (c - d); else print "n/a" }') (target about 16: one index entry)"
rm -f "$work/standard.avi" "$work/small.avi" "$work/small-pristine.avi"

echo
echo "== Rebuild into a new file of a $size camera recording =="
"$recgen" "$work/lost.avi" --layout header-lost --size "$size" --repeat-every 5 >/dev/null
"$recgen" "$work/shifted-pristine.avi" --layout shifted --size "$size" --repeat-every 5 >/dev/null
"$recgen" "$work/twin.avi" --size "$size" --repeat-every 5 --finalised >/dev/null
prepare_cp() { rm -f "$work/copy.avi"; warm "$work/lost.avi"; }
prepare_new_file() { rm -f "$work/fix_lost.avi"; warm "$work/lost.avi"; }
prepare_replace() {
    rm -f "$work/shifted.avi"
    cp --reflink=never "$work/shifted-pristine.avi" "$work/shifted.avi"
    warm "$work/shifted.avi"
}
prepare_ffmpeg() { rm -f "$work/twin-copy.avi"; warm "$work/twin.avi"; }

# The rebuild syncs its new file before it takes a name, so the copy it is measured against does too.
read -r cp_s cp_cpu cp_kb < <(median_of prepare_cp dd if="$work/lost.avi" of="$work/copy.avi" bs=1M conv=fsync status=none)
read -r new_s new_cpu new_kb < <(median_of prepare_new_file "$cli" --resolution vga --fps 15 "$work/lost.avi")
read -r rep_s rep_cpu rep_kb < <(median_of prepare_replace "$cli" --replace "$work/shifted.avi")
read -r ff_s ff_cpu ff_kb < <(median_of prepare_ffmpeg ffmpeg -nostdin -v error -i "$work/twin.avi" -c copy -y "$work/twin-copy.avi")
row "dd bs=1M conv=fsync (header lost)" "$cp_s" "$cp_cpu" "$cp_kb" "1.00"
row "clipwright-cli, header lost, new file" "$new_s" "$new_cpu" "$new_kb" "$(ratio "$new_s" "$cp_s")"
row "clipwright-cli --replace, shifted header" "$rep_s" "$rep_cpu" "$rep_kb" "$(ratio "$rep_s" "$cp_s")"
row "ffmpeg -c copy of the standard twin" "$ff_s" "$ff_cpu" "$ff_kb" "$(ratio "$ff_s" "$cp_s")"

# The same in memory, where writing back to a disk does not blur what the repair itself costs.
cp --reflink=never "$work/lost.avi" "$tmpfs/lost.avi"
prepare_tmpfs_dd() { rm -f "$tmpfs/copy.avi"; }
prepare_tmpfs_new_file() { rm -f "$tmpfs/fix_lost.avi"; }
prepare_tmpfs_replace() {
    rm -f "$tmpfs/shifted.avi"
    cp --reflink=never "$work/shifted-pristine.avi" "$tmpfs/shifted.avi"
}
read -r mdd_s mdd_cpu mdd_kb < <(median_of prepare_tmpfs_dd dd if="$tmpfs/lost.avi" of="$tmpfs/copy.avi" bs=1M status=none)
read -r mnew_s mnew_cpu mnew_kb < <(median_of prepare_tmpfs_new_file "$cli" --resolution vga --fps 15 "$tmpfs/lost.avi")
rm -f "$tmpfs"/*.avi
read -r mrep_s mrep_cpu mrep_kb < <(median_of prepare_tmpfs_replace "$cli" --replace "$tmpfs/shifted.avi")
rm -f "$tmpfs"/*.avi
row "dd bs=1M, tmpfs to tmpfs (header lost)" "$mdd_s" "$mdd_cpu" "$mdd_kb" "1.00"
row "clipwright-cli, header lost, new file" "$mnew_s" "$mnew_cpu" "$mnew_kb" "$(ratio "$mnew_s" "$mdd_s")"
row "clipwright-cli --replace, shifted header" "$mrep_s" "$mrep_cpu" "$mrep_kb" "$(ratio "$mrep_s" "$mdd_s")"
echo "times are medians of $runs runs; the last column is the ratio to the copy above it (target for the rebuild: at most 1.2)"
echo "(a header-lost rebuild always writes a new file, so replace mode is measured on a shifted recording)"
rm -f "$work"/*.avi

echo
echo "== Repair of a $size AVI that ffmpeg was cut off writing to a pipe =="
# 20 s of a moving picture in MPEG-4 and MS-ADPCM, looped to the size. The sound is encoded again
# on the way: a stream copy would rewrite MS-ADPCM's rate and scale from its byte rate.
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=1280x720:rate=30 -f lavfi -i sine=frequency=440:sample_rate=44100 \
    -t 20 -c:v mpeg4 -q:v 2 -c:a adpcm_ms -ac 2 -y "$work/clip.avi"
loop_clip() { ffmpeg -nostdin -v error -stream_loop -1 -i "$work/clip.avi" -c:v copy -c:a adpcm_ms "$@"; }
# The pipe leaves the header's placeholders in place; the recording stops inside a chunk.
{ loop_clip -f avi pipe:1 2>/dev/null || true; } | head -c "$size" >"$tmpfs/ffmpeg.avi"
general_size=$(stat -c %s "$tmpfs/ffmpeg.avi")
general_chunks=$("$floor" --riff "$tmpfs/ffmpeg.avi" | cut -d' ' -f1)

# In place on the disk, as the camera's recording: the repair writes the header, the cut chunk's
# id and what lies behind the end, so these are what each run puts back.
cp --reflink=never "$tmpfs/ffmpeg.avi" "$work/general.avi"
head -c 1M "$work/general.avi" >"$work/general.head"
tail -c 4M "$work/general.avi" >"$work/general.tail"
restore_general() {
    truncate -s "$general_size" "$work/general.avi"
    dd if="$work/general.head" of="$work/general.avi" conv=notrunc status=none
    dd if="$work/general.tail" of="$work/general.avi" seek=$((general_size - (4 << 20))) oflag=seek_bytes \
        conv=notrunc status=none
    warm "$work/general.avi"
}
read -r gfloor_s gfloor_cpu gfloor_kb < <(median_of restore_general "$floor" --riff "$work/general.avi")
read -r gin_s gin_cpu gin_kb < <(median_of restore_general "$cli" --replace "$work/general.avi")
gin_said=$(cat "$work/stdout.txt")
rm -f "$work/general.avi"

# A new file: every byte read and written once, in memory.
prepare_general_dd() { rm -f "$tmpfs/copy.avi"; }
prepare_general_new() { rm -f "$tmpfs/fix_ffmpeg.avi"; }
prepare_general_ffmpeg() { rm -f "$tmpfs/ffmpeg-copy.avi"; }
read -r gdd_s gdd_cpu gdd_kb < <(median_of prepare_general_dd dd if="$tmpfs/ffmpeg.avi" of="$tmpfs/copy.avi" bs=1M status=none)
read -r gnew_s gnew_cpu gnew_kb < <(median_of prepare_general_new "$cli" "$tmpfs/ffmpeg.avi")
gnew_said=$(cat "$work/stdout.txt")
read -r gff_s gff_cpu gff_kb < <(median_of prepare_general_ffmpeg ffmpeg -nostdin -v error -i "$tmpfs/ffmpeg.avi" -c copy -y "$tmpfs/ffmpeg-copy.avi")
rm -f "$tmpfs"/*.avi

row "floor: one 12-byte read per chunk" "$gfloor_s" "$gfloor_cpu" "$gfloor_kb" "1.00"
row "clipwright-cli --replace" "$gin_s" "$gin_cpu" "$gin_kb" "$(ratio "$gin_s" "$gfloor_s")"
row "dd bs=1M, tmpfs to tmpfs" "$gdd_s" "$gdd_cpu" "$gdd_kb" "1.00"
row "clipwright-cli, new file, tmpfs to tmpfs" "$gnew_s" "$gnew_cpu" "$gnew_kb" "$(ratio "$gnew_s" "$gdd_s")"
row "ffmpeg -c copy, tmpfs to tmpfs" "$gff_s" "$gff_cpu" "$gff_kb" "$(ratio "$gff_s" "$gdd_s")"
echo "in place: time ratio to the floor $(ratio "$gin_s" "$gfloor_s") (target at most 1.5)," \
    "CPU ratio $(ratio "$gin_cpu" "$gfloor_cpu")"
echo "new file: time ratio to dd $(ratio "$gnew_s" "$gdd_s") (target at most 1.2)," \
    "CPU ratio $(ratio "$gnew_cpu" "$gdd_cpu")"
echo "chunks: $general_chunks in $general_size bytes"
echo "in place said: $gin_said"
echo "new file said: $gnew_said"

echo
echo "== A file past 1 GiB: ffmpeg goes on in a RIFF AVIX part =="
avix_size=$(((1 << 30) + (1 << 30) / 10))
# Written to a file, which ffmpeg can go back in to close its first part, and then cut short.
loop_clip -fs $((avix_size + (64 << 20))) -y "$tmpfs/avix.avi"
truncate -s "$avix_size" "$tmpfs/avix.avi"
avix_sum=$(sha256sum <"$tmpfs/avix.avi")
# Both modes, the recording copied for the one in place; what ffprobe and GStreamer then read.
cp "$tmpfs/avix.avi" "$tmpfs/avix-in-place.avi"
for target in avix.avi avix-in-place.avi; do
    options=()
    [ "$target" = avix-in-place.avi ] && options=(--replace)
    status=0
    said=$("$cli" "${options[@]}" "$tmpfs/$target" 2>&1) || status=$?
    echo "clipwright-cli ${options[*]:-(new file)}: exit status $status"
    echo "$said" | sed 's/^/  /'
done
echo "the recording is $([ "$(sha256sum <"$tmpfs/avix.avi")" = "$avix_sum" ] && echo unchanged || echo CHANGED) by the new-file repair"
for output in fix_avix.avi avix-in-place.avi; do
    echo "$output: ffprobe packets $(ffprobe -v error -count_packets -show_entries stream=codec_type,nb_read_packets \
        -of csv=p=0 "$tmpfs/$output" | tr '\n' ' '); GStreamer $(gst-discoverer-1.0 "$tmpfs/$output" | grep -m1 Duration)"
done
rm -rf "$work"
