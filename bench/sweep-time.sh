#!/bin/sh
# Wall time of a whole command-line measurement over RUNS runs: the fastest,
# the median and the slowest. On the virtual card's fast clock by default;
# with `system`, in real time through the system's devices (the CI's
# PulseAudio loop-back: eval "$(.ci/pulse-start)" first). Aims on a 2-core
# machine: on the virtual card a sweep under 3 s, a report under 5 s, a
# response under 1 s; on the loop-back a response under 10 s and a report
# (its swept sine) under 30 s. Others' tests may play through the same
# server: take their turn with
#   flock "$XDG_RUNTIME_DIR/tembrix-audio.lock" bench/sweep-time.sh build 3 response system
#   bench/sweep-time.sh [BUILD_DIR] [RUNS] [sweep|report|response] [virtual|system]
#   (defaults: build 10 sweep virtual)
set -eu
build=${1:-build}
runs=${2:-10}
subcommand=${3:-sweep}
audio=${4:-virtual}

clock=--fast
[ "$audio" = virtual ] || clock=
what="$subcommand --audio=$audio${clock:+ $clock}"

for _ in $(seq "$runs"); do
    start=$(date +%s.%N)
    # shellcheck disable=SC2086 # no clock is no argument
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        "$build/app/tembrix" "$subcommand" --audio="$audio" $clock --quiet >/dev/null
    end=$(date +%s.%N)
    echo "$start $end"
done | awk '{ print $2 - $1 }' | sort -n | awk -v runs="$runs" -v what="$what" '
    { t[NR] = $1 }
    END { printf "tembrix %s: fastest %.3f s, median %.3f s, slowest %.3f s (%d runs)\n",
          what, t[1], (t[int((runs + 1) / 2)] + t[int(runs / 2) + 1]) / 2, t[runs], runs }'
