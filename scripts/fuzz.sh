#!/usr/bin/env bash
# Runs one fuzz target for a bounded time, with the limits that make a blow-up
# a finding: 1 GiB of memory in all, no single allocation over 256 MiB, and at
# most 5 seconds for one input (a few milliseconds is usual; a quadratic walk
# over a file of a few hundred KiB takes far longer). Seeds from
# scripts/fuzz-corpus.sh; what the run adds is kept in build/fuzz/corpus/TARGET
# for the next run, a faulting input in build/fuzz/findings/ (an absolute path:
# the datestamp target runs inside its scratch folder).
#   scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]
# TARGET: avi_reader datestamp settings clip_copier timecode bitmap.
# Exits non-zero when an input faulted.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 2 ]; then
    sed -n 2,11p "$0" >&2
    exit 2
fi
target=$1
seconds=$2
shift 2
program=build/fuzz/fuzz/fuzz_$target
if [ ! -x "$program" ]; then
    echo "no $program: build the fuzz preset first (scripts/setup.sh fuzz)" >&2
    exit 2
fi
if [ ! -d build/fuzz/seeds ]; then
    scripts/fuzz-corpus.sh
fi
corpus=build/fuzz/corpus/$target
mkdir -p "$corpus" build/fuzz/findings
"$program" "$corpus" "build/fuzz/seeds/$target" \
    -max_total_time="$seconds" -rss_limit_mb=1024 -malloc_limit_mb=256 -timeout=5 \
    -print_final_stats=1 -artifact_prefix="$PWD/build/fuzz/findings/$target-" "$@"
