#!/usr/bin/env bash
# Repairs generated 1 GiB recordings and reports, measured in this one run with a warm cache, the
# repair's wall time and peak memory beside the least work such a repair must do:
#   in place  vs  chunk-walk-floor (one 12-byte read per chunk)
#   rebuild   vs  cp --reflink=never of the same file, and ffmpeg -c copy of a standard twin
# Each figure is the median of RUNS runs (default 3). Not a test: nothing here passes or fails.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${RUNS:-3}
size=${SIZE:-1G}
work=${BENCH_DIR:-build/bench}

bash tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null

recgen=build/tools/recgen/clipwright-recgen
cli=build/cli/clipwright-cli
floor=build/tools/bench/chunk-walk-floor
rm -rf "$work"
mkdir -p "$work"

# Prints "seconds peak-kilobytes" of one command.
measure() {
    /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" || {
        cat "$work/stderr.txt" >&2
        return 1
    }
    cat "$work/time.txt"
}

# Median of the seconds and of the peak memory over $runs runs; `prepare` runs untimed before each.
median_of() {
    local prepare=$1
    shift
    local times=() peaks=()
    for _ in $(seq "$runs"); do
        $prepare
        read -r seconds peak < <(measure "$@")
        times+=("$seconds")
        peaks+=("$peak")
    done
    local mid=$(((runs + 1) / 2))
    echo "$(printf '%s\n' "${times[@]}" | sort -n | sed -n "${mid}p") $(printf '%s\n' "${peaks[@]}" | sort -n | sed -n "${mid}p")"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
nothing() { :; }

echo "== In-place repair of a cut-off $size recording =="
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
    cat "$work/standard.avi" >/dev/null
}
restore_small() { cp --reflink=never "$work/small-pristine.avi" "$work/small.avi"; }

read -r floor_s floor_kb < <(median_of restore_standard "$floor" "$work/standard.avi")
read -r repair_s repair_kb < <(median_of restore_standard "$cli" --replace "$work/standard.avi")
read -r _ small_kb < <(median_of restore_small "$cli" --replace "$work/small.avi")
printf '%-34s %8s s %9s KiB\n' "floor: one 12-byte read per chunk" "$floor_s" "$floor_kb"
printf '%-34s %8s s %9s KiB\n' "clipwright-cli --replace" "$repair_s" "$repair_kb"
echo "time ratio to the floor: $(ratio "$repair_s" "$floor_s") (target at most 1.5)"
echo "chunks: $chunks in $size, $small_chunks in 64M"
echo "peak memory growth per extra chunk: $(awk -v a="$repair_kb" -v b="$small_kb" -v c="$chunks" -v d="$small_chunks" \
    'BEGIN { printf "%.1f bytes", (a - b) * 1024 / (c - d) }') (target about 16: one index entry)"
rm -f "$work/standard.avi" "$work/small.avi" "$work/small-pristine.avi"

echo
echo "== Rebuild into a new file of a $size recording =="
"$recgen" "$work/lost.avi" --layout header-lost --size "$size" --repeat-every 5 >/dev/null
"$recgen" "$work/shifted-pristine.avi" --layout shifted --size "$size" --repeat-every 5 >/dev/null
"$recgen" "$work/twin.avi" --size "$size" --repeat-every 5 --finalised >/dev/null
# Dirty pages left by the preparation would be written back during the timed run: sync first.
warm() {
    sync
    cat "$1" >/dev/null
}
prepare_cp() { rm -f "$work/copy.avi"; warm "$work/lost.avi"; }
prepare_new_file() { rm -f "$work/fix_lost.avi"; warm "$work/lost.avi"; }
prepare_replace() {
    rm -f "$work/shifted.avi"
    cp --reflink=never "$work/shifted-pristine.avi" "$work/shifted.avi"
    warm "$work/shifted.avi"
}
prepare_ffmpeg() { rm -f "$work/twin-copy.avi"; warm "$work/twin.avi"; }

# The rebuild syncs its new file before it takes a name, so the copy it is measured against does too.
read -r cp_s cp_kb < <(median_of prepare_cp dd if="$work/lost.avi" of="$work/copy.avi" bs=1M conv=fsync status=none)
read -r new_s new_kb < <(median_of prepare_new_file "$cli" --resolution vga --fps 15 "$work/lost.avi")
read -r rep_s rep_kb < <(median_of prepare_replace "$cli" --replace "$work/shifted.avi")
read -r ff_s ff_kb < <(median_of prepare_ffmpeg ffmpeg -nostdin -v error -i "$work/twin.avi" -c copy -y "$work/twin-copy.avi")
printf '%-44s %8s s %9s KiB  %s\n' "dd bs=1M conv=fsync (header lost)" "$cp_s" "$cp_kb" "1.00"
printf '%-44s %8s s %9s KiB  %s\n' "clipwright-cli, header lost, new file" "$new_s" "$new_kb" "$(ratio "$new_s" "$cp_s")"
printf '%-44s %8s s %9s KiB  %s\n' "clipwright-cli --replace, shifted header" "$rep_s" "$rep_kb" "$(ratio "$rep_s" "$cp_s")"
printf '%-44s %8s s %9s KiB  %s\n' "ffmpeg -c copy of the standard twin" "$ff_s" "$ff_kb" "$(ratio "$ff_s" "$cp_s")"
echo "times are medians of $runs runs; the last column is the ratio to the synced copy (target for the rebuild: at most 1.2)"
echo "(a header-lost rebuild always writes a new file, so replace mode is measured on a shifted recording)"
rm -rf "$work"
