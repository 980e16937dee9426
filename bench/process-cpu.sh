#!/bin/sh
# The instrument's whole-process CPU use on the virtual card in real time,
# after it has settled: user + system time over SECONDS, in percent of one
# core. Aim: under 2 %.
#   bench/process-cpu.sh [BUILD_DIR] [SECONDS]      (defaults: build 60)
set -eu
build=${1:-build}
seconds=${2:-60}

QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/app/tembrix" --audio=virtual &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT

# Fields 14 and 15 of /proc/PID/stat: user and system time in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }

sleep 3 # start-up
start=$(cpu_ticks)
sleep "$seconds"
end=$(cpu_ticks)
awk -v t="$((end - start))" -v hz="$(getconf CLK_TCK)" -v s="$seconds" \
    'BEGIN { printf "tembrix --audio=virtual: %.2f s CPU in %d s = %.2f %% of one core\n", t / hz, s, 100 * t / hz / s }'
