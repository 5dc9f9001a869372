#!/usr/bin/env bash
# Makes the fuzz targets' seed corpora: small files from the test fixture writer
# (every DV type and generation, cut short, with "REF " chunks), settings files,
# timecodes and pictures, plus DV AVI files of two frames each written by ffmpeg
# and, when it is installed, dvgrab. Nothing here is kept in git.
#   scripts/fuzz-corpus.sh [FOLDER]     (default: build/fuzz/seeds)
# Needs the fuzz build (scripts/setup.sh fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/fuzz/seeds}
seeds=build/fuzz/fuzz/qv_fuzz_seeds
if [ ! -x "$seeds" ]; then
    cmake --build --preset fuzz --target qv_fuzz_seeds
fi

rm -rf "$out"
mkdir -p "$out"
"$seeds" "$out"

# DV from other writers: ffmpeg's AVI 1.0 of both systems, and dvgrab's type-1,
# type-2 and OpenDML files from ffmpeg's raw DV.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ff=(ffmpeg -v error -nostdin -y)
"${ff[@]}" -f lavfi -i testsrc=size=720x576:rate=25:duration=0.08 \
    -f lavfi -i sine=frequency=440:sample_rate=48000:duration=0.08 \
    -c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16le -ac 2 -shortest "$work/ffmpeg-pal.avi"
"${ff[@]}" -f lavfi -i testsrc=size=720x480:rate=30000/1001:duration=0.067 \
    -f lavfi -i sine=frequency=440:sample_rate=48000:duration=0.067 \
    -c:v dvvideo -pix_fmt yuv411p -c:a pcm_s16le -ac 2 -shortest "$work/ffmpeg-ntsc.avi"
if command -v dvgrab >/dev/null; then
    "${ff[@]}" -i "$work/ffmpeg-pal.avi" -c copy -f dv "$work/raw.dv"
    # Bounded, and tried again: dvgrab sometimes waits for ever at the end of
    # so short an input, and then may not end on SIGTERM either.
    grab() {
        local name=$1 try
        shift
        for try in 1 2 3; do
            if (cd "$work" && timeout -k 5 15 dvgrab -I raw.dv "$@" -size 0 "dvgrab-$name-" \
                </dev/null >/dev/null 2>&1); then
                return 0
            fi
            rm -f "$work"/dvgrab-"$name"-*
        done
        echo "dvgrab did not write its $name file; it is left out" >&2
    }
    grab type1 -format dv1
    grab type2 -format dv2
    grab odml -format dv2 -opendml
else
    echo "dvgrab is not installed; its files are left out" >&2
fi
for f in "$work"/*.avi; do
    for target in avi_reader datestamp clip_copier; do
        cp "$f" "$out/$target/"
    done
done
for target in "$out"/*/; do
    echo "$(basename "$target"): $(find "$target" -type f | wc -l) seeds, $(du -sk "$target" | cut -f1) KiB"
done
