#!/bin/sh
# Wall time of a whole command-line sweep on the virtual card's fast clock,
# over RUNS runs: the fastest, the median and the slowest. Aim: a median
# under 3 s on a 2-core machine.
#   bench/sweep-time.sh [BUILD_DIR] [RUNS]      (defaults: build 10)
set -eu
build=${1:-build}
runs=${2:-10}

for _ in $(seq "$runs"); do
    start=$(date +%s.%N)
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        "$build/app/tembrix" sweep --audio=virtual --fast --quiet >/dev/null
    end=$(date +%s.%N)
    echo "$start $end"
done | awk '{ print $2 - $1 }' | sort -n | awk -v runs="$runs" '
    { t[NR] = $1 }
    END { printf "tembrix sweep --audio=virtual --fast: fastest %.3f s, median %.3f s, slowest %.3f s (%d runs)\n",
          t[1], (t[int((runs + 1) / 2)] + t[int(runs / 2) + 1]) / 2, t[runs], runs }'
