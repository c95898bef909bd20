#!/bin/bash
# Regenerates the real media payloads in tests/data from which tools/recgen builds test recordings.
#
#   Run from anywhere:  bash tools/make-payloads.sh [OUTPUT_DIR]   (default: tests/data of this tree)
#   Needs Debian's ffmpeg and perl (apt-get install -y ffmpeg).
#
# Video: MPEG-4 Part 2 elementary streams, one per camera resolution (video-640x480.m4v, video-320x240.m4v,
# video-160x112.m4v), 40 frames at 15 fps, no B-frames, a key frame every 10 frames, coarse quantiser to keep
# the files small. The camera's key frames begin at the video object start code 00 00 01 00, so the visual
# object sequence / visual object headers (00 00 01 B0 / B5) that the encoder puts before it are stripped;
# every key frame keeps its VOL header, so decoding can start at any key frame. Each stripped stream is
# checked to decode cleanly.
#
# Audio: MS-ADPCM, 8000 Hz mono, 256-byte blocks of 500 samples (audio-8k-mono.adpcm), raw blocks only.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
out="${1:-$here/../tests/data}"
mkdir -p "$out"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

frames=40
fps=15
quantiser=24

# Splits the stream into frames (a frame ends where the first start code after its VOP, 00 00 01 B6,
# begins) and drops whatever stands before the video object start code 00 00 01 00 in a key frame.
strip_before_video_object() {
    perl -0777 -e '
        binmode STDIN; binmode STDOUT;
        my $data = <STDIN>;
        my @starts;
        while ($data =~ /\x00\x00\x01/g) { push @starts, pos($data) - 3; }
        push @starts, length($data);
        my $frameStart = 0;
        for my $i (0 .. $#starts - 1) {
            next unless substr($data, $starts[$i] + 3, 1) eq "\xB6";
            my $frame = substr($data, $frameStart, $starts[$i + 1] - $frameStart);
            my $videoObject = index($frame, "\x00\x00\x01\x00");
            $frame = substr($frame, $videoObject) if $videoObject > 0;
            print $frame;
            $frameStart = $starts[$i + 1];
        }
    '
}

for size in 640x480 320x240 160x112; do
    ffmpeg -v error -y -f lavfi -i "testsrc2=size=$size:rate=$fps" -frames:v "$frames" \
        -c:v mpeg4 -bf 0 -g 10 -sc_threshold 1000000000 -qscale:v "$quantiser" \
        -flags:v +bitexact -fflags +bitexact -f m4v "$work/encoded-$size.m4v"
    strip_before_video_object < "$work/encoded-$size.m4v" > "$out/video-$size.m4v"

    errors="$(ffmpeg -v error -f m4v -i "$out/video-$size.m4v" -f null - 2>&1)"
    decoded="$(ffprobe -v error -f m4v -count_frames -select_streams v:0 \
        -show_entries stream=nb_read_frames -of csv=p=0 "$out/video-$size.m4v")"
    if [[ -n "$errors" || "$decoded" != "$frames" ]]; then
        echo "video-$size.m4v does not decode cleanly ($decoded of $frames frames): $errors" >&2
        exit 1
    fi
done

# 4 seconds of tone; the WAV container is only a carrier, its data chunk holds the raw blocks.
ffmpeg -v error -y -f lavfi -i "sine=frequency=440:sample_rate=8000" -t 4 -ac 1 \
    -c:a adpcm_ms -block_size 256 -fflags +bitexact -f wav "$work/audio.wav"
perl -0777 -e '
    binmode STDIN; binmode STDOUT;
    my $data = <STDIN>;
    my $pos = 12;
    while ($pos + 8 <= length($data)) {
        my ($id, $size) = unpack("a4 V", substr($data, $pos, 8));
        if ($id eq "data") {
            my $blocks = int($size / 256);
            print substr($data, $pos + 8, $blocks * 256);
            exit 0;
        }
        $pos += 8 + $size + ($size & 1);
    }
    die "no data chunk\n";
' < "$work/audio.wav" > "$out/audio-8k-mono.adpcm"

ls -l "$out"/video-*.m4v "$out"/audio-8k-mono.adpcm
