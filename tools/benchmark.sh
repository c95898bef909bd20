#!/usr/bin/env bash
# Repairs generated 1 GiB recordings and reports, measured in this one run with a warm cache, the
# repair's wall time, CPU time and peak memory beside the plainest way to do the same reading:
#   camera, in place      vs  chunk-walk-floor (one 12-byte read per chunk)
#   camera, rebuild       vs  dd bs=1M conv=fsync of the same file, and ffmpeg -c copy of a standard twin;
#                             vs  dd bs=1M of the same file, both on tmpfs
#   ffmpeg's AVI, in place vs chunk-walk-floor --riff
#   ffmpeg's AVI, new file vs dd bs=1M of the same file, both on tmpfs, and ffmpeg -c copy of it
# and what clipwright-cli does with a file past 1 GiB, which ffmpeg continues in an AVIX part;
#   ffmpeg's AVI of 4.5 GiB in five RIFF parts, in place vs chunk-walk-floor --riff
#   the same, new file         vs  dd bs=1M (tmpfs to tmpfs when both fit, else to disk with
#                                  conv=fsync), and ffmpeg -c copy of it
# LARGE=0 leaves out the last, which takes a few minutes and 9 GiB of /dev/shm or of the disk.
# Each figure is the median of RUNS runs (default 5); a repair and the copy it is set beside run by turns. Not a test: nothing here passes or fails.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${RUNS:-5}
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
# Two commands run by turns, $runs times each, so that a drift of the machine falls on both alike:
# this VM hands freed memory back to its host and each page faults in again, costs that vary
# several-fold from one minute to the next. Arguments: the names of two arrays, each holding a
# preparation and then the command. Prints two lines of medians, as median_of does.
by_turns() {
    local -n first=$1 second=$2
    local times_a=() cpus_a=() peaks_a=() times_b=() cpus_b=() peaks_b=() seconds cpu peak
    for _ in $(seq "$runs"); do
        ${first[0]}
        read -r seconds cpu peak < <(measure "${first[@]:1}")
        times_a+=("$seconds") cpus_a+=("$cpu") peaks_a+=("$peak")
        ${second[0]}
        read -r seconds cpu peak < <(measure "${second[@]:1}")
        times_b+=("$seconds") cpus_b+=("$cpu") peaks_b+=("$peak")
    done
    echo "$(printf '%s\n' "${times_a[@]}" | middle) $(printf '%s\n' "${cpus_a[@]}" | middle)" \
        "$(printf '%s\n' "${peaks_a[@]}" | middle)"
    echo "$(printf '%s\n' "${times_b[@]}" | middle) $(printf '%s\n' "${cpus_b[@]}" | middle)" \
        "$(printf '%s\n' "${peaks_b[@]}" | middle)"
}

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
prepare_cp() {
    rm -f "$work/copy.avi" "$work/fix_lost.avi"
    warm "$work/lost.avi"
}
prepare_new_file() { prepare_cp; }
prepare_replace() {
    rm -f "$work/shifted.avi"
    cp --reflink=never "$work/shifted-pristine.avi" "$work/shifted.avi"
    warm "$work/shifted.avi"
}
prepare_ffmpeg() { rm -f "$work/twin-copy.avi"; warm "$work/twin.avi"; }

# The rebuild syncs its new file before it takes a name, so the copy it is measured against does too.
copy_lost=(prepare_cp dd if="$work/lost.avi" of="$work/copy.avi" bs=1M conv=fsync status=none)
rebuild_lost=(prepare_new_file "$cli" --resolution vga --fps 15 "$work/lost.avi")
{
    read -r cp_s cp_cpu cp_kb
    read -r new_s new_cpu new_kb
} < <(by_turns copy_lost rebuild_lost)
read -r rep_s rep_cpu rep_kb < <(median_of prepare_replace "$cli" --replace "$work/shifted.avi")
read -r ff_s ff_cpu ff_kb < <(median_of prepare_ffmpeg ffmpeg -nostdin -v error -i "$work/twin.avi" -c copy -y "$work/twin-copy.avi")
row "dd bs=1M conv=fsync (header lost)" "$cp_s" "$cp_cpu" "$cp_kb" "1.00"
row "clipwright-cli, header lost, new file" "$new_s" "$new_cpu" "$new_kb" "$(ratio "$new_s" "$cp_s")"
row "clipwright-cli --replace, shifted header" "$rep_s" "$rep_cpu" "$rep_kb" "$(ratio "$rep_s" "$cp_s")"
row "ffmpeg -c copy of the standard twin" "$ff_s" "$ff_cpu" "$ff_kb" "$(ratio "$ff_s" "$cp_s")"

# The same in memory, where writing back to a disk does not blur what the repair itself costs.
cp --reflink=never "$work/lost.avi" "$tmpfs/lost.avi"
# Each removes what either made, so that both run beside the same files.
prepare_tmpfs_dd() { rm -f "$tmpfs/copy.avi" "$tmpfs/fix_lost.avi"; }
prepare_tmpfs_new_file() { prepare_tmpfs_dd; }
prepare_tmpfs_replace() {
    rm -f "$tmpfs/shifted.avi"
    cp --reflink=never "$work/shifted-pristine.avi" "$tmpfs/shifted.avi"
}
copy_lost=(prepare_tmpfs_dd dd if="$tmpfs/lost.avi" of="$tmpfs/copy.avi" bs=1M status=none)
rebuild_lost=(prepare_tmpfs_new_file "$cli" --resolution vga --fps 15 "$tmpfs/lost.avi")
{
    read -r mdd_s mdd_cpu mdd_kb
    read -r mnew_s mnew_cpu mnew_kb
} < <(by_turns copy_lost rebuild_lost)
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
prepare_general_dd() { rm -f "$tmpfs/copy.avi" "$tmpfs/fix_ffmpeg.avi"; }
prepare_general_new() { prepare_general_dd; }
prepare_general_ffmpeg() { rm -f "$tmpfs/ffmpeg-copy.avi"; }
copy_general=(prepare_general_dd dd if="$tmpfs/ffmpeg.avi" of="$tmpfs/copy.avi" bs=1M status=none)
repair_general=(prepare_general_new "$cli" "$tmpfs/ffmpeg.avi")
{
    read -r gdd_s gdd_cpu gdd_kb
    read -r gnew_s gnew_cpu gnew_kb
} < <(by_turns copy_general repair_general)
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
rm -f "$tmpfs"/*.avi

# A recording of 4.5 GiB in five RIFF parts, of which the last is cut off. The new file is made in
# memory when the recording and its repair both fit there (9 GiB), else on the disk.
large_recording() {
    echo
    echo "== Repair of a 4.5 GiB AVI that ffmpeg was cut off writing to a file, in RIFF parts =="
    large_size=$(((4 << 30) + (1 << 29)))
    large_file=$work/large.avi
    local margin=$((1 << 30)) shm_free disk_free disk_needed
    shm_free=$(df --output=avail -B1 "$tmpfs" | tail -n 1)
    disk_free=$(df --output=avail -B1 "$work" | tail -n 1)
    if [ "$shm_free" -ge $((2 * large_size + margin)) ]; then
        large_dir=$tmpfs
        large_where="tmpfs to tmpfs"
        large_dd=()
        disk_needed=$((large_size + margin))
    else
        large_dir=$work
        large_where="on the disk"
        large_dd=(conv=fsync)
        disk_needed=$((2 * large_size + margin))
    fi
    if [ "$disk_free" -lt "$disk_needed" ]; then
        echo "left out: $((disk_free >> 20)) MiB free in $work, $((disk_needed >> 20)) MiB needed"
        return
    fi

    # Written to a file, so that ffmpeg goes back to close each part; then cut inside the fifth.
    loop_clip -fs $((large_size + (64 << 20))) -y "$large_file"
    truncate -s "$large_size" "$large_file"
    sync
    large_parts=()
    local position=0 length
    while [ $((position + 12)) -le "$large_size" ] &&
        [ "$(dd if="$large_file" bs=4 iflag=skip_bytes skip="$position" count=1 status=none)" = RIFF ]; do
        large_parts+=("$position")
        length=$(od -An -tu4 -j $((position + 4)) -N 4 "$large_file" | tr -d ' ')
        position=$((position + 8 + length + (length & 1)))
    done
    echo "$large_size bytes in ${#large_parts[@]} RIFF parts, at ${large_parts[*]}"
    echo "clipwright-cli --check:"
    "$cli" --check "$large_file" | sed 's/^/  /'
    local will_index walked packets_cut
    will_index=$("$cli" --check --json "$large_file" |
        python3 -c 'import json, sys; print(json.load(sys.stdin)["replace"]["chunks"])')
    walked=$("$floor" --riff "$large_file" | cut -d' ' -f1)
    if [ "$walked" != "$will_index" ]; then
        echo "the floor walks $walked chunks, the repair indexes $will_index: not the same walk" >&2
        return 1
    fi
    packets_cut=$(packets "$large_file")

    # A repair in place writes the header, each part's RIFF and movi sizes, the cut chunk's id and
    # what lies behind the end: these go back before each run, and the checksum says they all did.
    head -c 1M "$large_file" >"$work/large.head"
    tail -c 4M "$large_file" >"$work/large.tail"
    for position in "${large_parts[@]}"; do
        dd if="$large_file" of="$work/large.part$position" bs=4K iflag=skip_bytes skip="$position" count=1 \
            status=none
    done
    large_sum=$(cksum <"$large_file")
    rm -f "$work/large.repaired" "$work/large.repairs"
    read -r lfloor_s lfloor_cpu lfloor_kb < <(median_of restore_large "$floor" --riff "$large_file")
    read -r lin_s lin_cpu lin_kb < <(median_of prepare_large_in_place "$cli" --replace "$large_file")
    note_large_repair
    local packets_in_place in_place_said in_place_sum repairs
    packets_in_place=$(packets "$large_file")
    in_place_said=$(cat "$work/stdout.txt")
    in_place_sum=$(cksum <"$large_file")
    repairs=$(sort -u "$work/large.repairs" | wc -l)

    restore_large
    if [ "$large_dir" = "$tmpfs" ]; then
        cp --reflink=never "$large_file" "$tmpfs/large.avi"
        rm -f "$large_file"
    fi
    local source=$large_dir/large.avi
    local copy_large=(prepare_large_dd dd if="$source" of="$large_dir/copy.avi" bs=1M "${large_dd[@]}" status=none)
    local repair_large=(prepare_large_new "$cli" "$source")
    {
        read -r ldd_s ldd_cpu ldd_kb
        read -r lnew_s lnew_cpu lnew_kb
    } < <(by_turns copy_large repair_large)
    rm -f "$large_dir/copy.avi"
    local packets_new new_said new_sum
    packets_new=$(packets "$large_dir/fix_large.avi")
    new_said=$(cat "$work/stdout.txt")
    new_sum=$(cksum <"$large_dir/fix_large.avi")
    rm -f "$large_dir/fix_large.avi"
    read -r lff_s lff_cpu lff_kb < <(median_of prepare_large_ffmpeg \
        ffmpeg -nostdin -v error -i "$source" -c copy -y "$large_dir/large-copy.avi")
    rm -f "$large_dir"/large*.avi "$work"/large.*

    row "floor: one 12-byte read per chunk" "$lfloor_s" "$lfloor_cpu" "$lfloor_kb" "1.00"
    row "clipwright-cli --replace" "$lin_s" "$lin_cpu" "$lin_kb" "$(ratio "$lin_s" "$lfloor_s")"
    row "dd bs=1M${large_dd[*]:+ ${large_dd[*]}}, $large_where" "$ldd_s" "$ldd_cpu" "$ldd_kb" "1.00"
    row "clipwright-cli, new file, $large_where" "$lnew_s" "$lnew_cpu" "$lnew_kb" "$(ratio "$lnew_s" "$ldd_s")"
    row "ffmpeg -c copy, $large_where" "$lff_s" "$lff_cpu" "$lff_kb" "$(ratio "$lff_s" "$ldd_s")"
    echo "in place: time ratio to the floor $(ratio "$lin_s" "$lfloor_s") (target at most 1.5)," \
        "CPU ratio $(ratio "$lin_cpu" "$lfloor_cpu")"
    echo "new file: time ratio to dd $(ratio "$lnew_s" "$ldd_s") (target at most 1.2)," \
        "CPU ratio $(ratio "$lnew_cpu" "$ldd_cpu")"
    echo "chunks: $walked in $large_size bytes, walked by the floor through all ${#large_parts[@]} parts"
    echo "in place said: $in_place_said"
    echo "new file said: $new_said"
    echo "repairs in place: $runs, of $repairs different outcome(s); the new file is" \
        "$([ "$new_sum" = "$in_place_sum" ] && echo "the same as theirs" || echo "NOT the same as theirs")"
    for packets_after in "$packets_in_place" "$packets_new"; do
        [ "$packets_after" = "$packets_cut" ] || packets_cut="$packets_cut (NOT as many after a repair)"
    done
    echo "ffprobe packets: cut $packets_cut; in place $packets_in_place; new file $packets_new"
}
packets() {
    ffprobe -v error -count_packets -show_entries stream=codec_type,nb_read_packets -of csv=p=0 "$1" | paste -sd ' '
}
restore_large() {
    truncate -s "$large_size" "$large_file"
    dd if="$work/large.head" of="$large_file" conv=notrunc status=none
    local position
    for position in "${large_parts[@]}"; do
        dd if="$work/large.part$position" of="$large_file" bs=4K seek="$position" oflag=seek_bytes conv=notrunc \
            status=none
    done
    dd if="$work/large.tail" of="$large_file" seek=$((large_size - (4 << 20))) oflag=seek_bytes conv=notrunc \
        status=none
    sync
    # Reading it all warms the cache too.
    if [ "$(cksum <"$large_file")" != "$large_sum" ]; then
        echo "the recording put back is not the one cut off" >&2
        exit 1
    fi
}
# What each repair in place made and said, so that the runs can be seen to have repaired alike.
note_large_repair() { echo "$(cksum <"$large_file") $(cat "$work/stdout.txt")" >>"$work/large.repairs"; }
prepare_large_in_place() {
    if [ -e "$work/large.repaired" ]; then
        note_large_repair
    fi
    touch "$work/large.repaired"
    restore_large
}
prepare_large_dd() {
    rm -f "$large_dir/copy.avi" "$large_dir/fix_large.avi"
    warm "$large_dir/large.avi"
}
prepare_large_new() { prepare_large_dd; }
prepare_large_ffmpeg() { rm -f "$large_dir/large-copy.avi"; warm "$large_dir/large.avi"; }

if [ "${LARGE:-1}" != 0 ]; then
    large_recording
fi
rm -rf "$work"
