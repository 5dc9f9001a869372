#!/usr/bin/env bash
# Builds the program and starts it. A short DV sample made with ffmpeg waits in
# build/sample/ for a first try with "Add Input-Files" or by dropping it on the window.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh default

sample=build/sample/sample.avi
if [ ! -f "$sample" ]; then
    mkdir -p build/sample
    # Two seconds of PAL DV with a recording date and time in every frame.
    ffmpeg -v error -y -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=r=48000 \
        -t 2 -c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16le -ac 2 \
        -metadata creation_time=2004-07-14T10:20:30 -f dv build/sample/sample.dv
    ffmpeg -v error -y -i build/sample/sample.dv -c copy "$sample"
fi
echo "A sample to try: $PWD/$sample"
exec build/default/quorvandel "$@"
