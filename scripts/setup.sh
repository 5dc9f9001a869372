#!/usr/bin/env bash
# Installs what the build and the tests need (Debian 12), then configures and
# builds one preset. Safe to run again: installs only what is missing and builds
# incrementally.
#   scripts/setup.sh [PRESET]     (default: default)
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}

packages=(
    g++ cmake ninja-build pkg-config
    dpkg-dev                             # dpkg-buildflags: Debian's hardening flags for every build
    libgtest-dev                         # GoogleTest
    libcli11-dev nlohmann-json3-dev      # the command-line program's options and JSON
    libavcodec-dev libswscale-dev libavutil-dev  # the DV decoder
    libavformat-dev                      # QuickTime files' sample tables
    ffmpeg                               # tests check our files with ffmpeg/ffprobe
    strace                               # tests make system calls fail (a full disk)
    dvgrab                               # tests read raw DV as dvgrab writes it
    qt6-base-dev                         # the windows (Widgets, PrintSupport, Test)
    fonts-dejavu-core                    # real text metrics for the window tests
    poppler-utils                        # tests read printed clip sheets with pdfinfo/pdfimages
    xvfb openbox xdotool x11-utils       # the program in a real X server (ctest -L xserver)
    librsvg2-bin                         # the icon's PNG sizes, rendered from its SVG
    desktop-file-utils appstream man-db file  # the install test checks what is installed
    strace python3                       # the fault trials fail system calls one at a time
    devscripts                           # hardening-check, which the install test runs
    dvgrab                               # the copier is tested on another DV AVI writer's files
)
if [ "$preset" = fuzz ]; then
    packages+=(clang libclang-rt-14-dev)  # libFuzzer and the sanitizers' runtime
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$p")
    fi
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ ! -f "build/$preset/CMakeCache.txt" ]; then
    cmake --preset "$preset"
fi
cmake --build --preset "$preset" -j "$(nproc)"
