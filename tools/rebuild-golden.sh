#!/usr/bin/env bash
# Byte-for-byte check of rebuilt recordings across a change of the writer or the rebuild.
#   tools/rebuild-golden.sh save DIR    generate recordings, rebuild them, keep the fix_ files in DIR
#   tools/rebuild-golden.sh check DIR   generate and rebuild again, compare with DIR using cmp
# Uses the default build's clipwright-recgen and clipwright-cli.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-}
golden=${2:-}
if [[ ($mode != save && $mode != check) || -z $golden ]]; then
    echo "usage: $0 save|check DIR" >&2
    exit 2
fi
recgen=build/tools/recgen/clipwright-recgen
cli=build/cli/clipwright-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

gen() { # NAME RECGEN-OPTIONS...
    local name=$1
    shift
    "$recgen" "$work/$name.avi" "$@" >/dev/null 2>&1
}

# Keeps the first 2048 bytes and the chunks whose id ends in KIND (dc or wb): a recording holding
# one stream only, which the camera itself never writes.
one_stream() { # SOURCE-NAME NAME KIND RECGEN-OPTIONS...
    local source=$1 name=$2 kind=$3
    shift 3
    "$recgen" "$work/$source.avi" --chunk-list "$@" 2>/dev/null | grep "^'..$kind'" >"$work/$source.list"
    rm "$work/$source.avi"
    "$recgen" "$work/$source.avi" "$@" >/dev/null 2>&1
    head -c 2048 "$work/$source.avi" >"$work/$name.avi"
    while IFS=$'\t' read -r _ position size; do
        dd if="$work/$source.avi" iflag=skip_bytes,count_bytes skip="$position" count=$((8 + size)) \
            status=none >>"$work/$name.avi"
    done <"$work/$source.list"
    rm "$work/$source.avi" "$work/$source.list"
}

for resolution in 640x480 320x240 160x112; do
    gen "shifted-$resolution" --layout shifted --resolution "$resolution"
    gen "lost-$resolution" --layout header-lost --resolution "$resolution"
done
gen other-list --layout other-list
gen lost-garbage --layout header-lost --data-start 5000 --lost-fill garbage --resolution 320x240
gen repeats-every --layout shifted --repeat-every 3 --frames 60
gen repeats-at --layout shifted --repeat-at 1 2 5 9 --resolution 160x112
gen padded --layout shifted --pad-odd --resolution 320x240
gen cut --layout shifted --cut 100
gen fps7 --layout shifted --fps 7 --resolution 160x112
gen no-rate --layout shifted --header-rate 0
gen odd-size --layout shifted --header-size 352x288
gen lying --layout shifted --lying-size 9:0x80000000
gen trailing --layout shifted --trailing-garbage 300
gen big --layout shifted --size 24M --repeat-every 5 --resolution 160x112
one_stream shifted-both video-only dc --layout shifted --resolution 320x240
one_stream shifted-both2 audio-only wb --layout shifted --resolution 320x240
cp "$work/shifted-640x480.avi" "$work/replaced.avi"

for file in "$work"/*.avi; do
    options=()
    [[ $(basename "$file") == replaced.avi ]] && options=(--replace)
    "$cli" "${options[@]}" --resolution qvga --fps 10 "$file" >/dev/null 2>&1 || true
done
# In replace mode the rebuild takes the recording's own name.
mv "$work/replaced.avi" "$work/fix_replaced.avi"

if [[ $mode == save ]]; then
    mkdir -p "$golden"
    cp "$work"/fix_*.avi "$golden"/
    ls "$golden"
    exit 0
fi
status=0
for expected in "$golden"/fix_*.avi; do
    name=$(basename "$expected")
    if cmp "$expected" "$work/$name"; then
        echo "same: $name"
    else
        status=1
    fi
done
exit $status
