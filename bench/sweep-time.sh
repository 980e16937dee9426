#!/bin/sh
# Wall time of a whole command-line sweep (or loop-back report) on the
# virtual card's fast clock, over RUNS runs: the fastest, the median and the
# slowest. Aims on a 2-core machine: a sweep under 3 s, a report under 5 s.
#   bench/sweep-time.sh [BUILD_DIR] [RUNS] [sweep|report]   (defaults: build 10 sweep)
set -eu
build=${1:-build}
runs=${2:-10}
subcommand=${3:-sweep}

for _ in $(seq "$runs"); do
    start=$(date +%s.%N)
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        "$build/app/tembrix" "$subcommand" --audio=virtual --fast --quiet >/dev/null
    end=$(date +%s.%N)
    echo "$start $end"
done | awk '{ print $2 - $1 }' | sort -n | awk -v runs="$runs" -v what="$subcommand" '
    { t[NR] = $1 }
    END { printf "tembrix %s --audio=virtual --fast: fastest %.3f s, median %.3f s, slowest %.3f s (%d runs)\n",
          what, t[1], (t[int((runs + 1) / 2)] + t[int(runs / 2) + 1]) / 2, t[runs], runs }'
