#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Ink benchmark: the live 2048x1536 MJPEG preview without ink, then with 2,000 replayed strokes
# (about 200,000 points) shown over it, then with those and a pen drawing at 120 Hz, one after the
# other in this script, twice. Prints frames shown per second with ink, the CPU per frame against
# the run without ink, the ink layer's paint time per frame and the slowest pointer event.
# Usage: bench/ink/run.sh [build dir] [seconds]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
seconds=${2:-20}
echo "load: $(uptime)"
for round in 1 2; do
  plain=$("$build/bench/ink/ink_bench" "$seconds" 0 | tee /dev/stderr | sed -n 's/^RESULT //p')
  eval "$plain"
  plain_ms=$cpu_ms_per_frame
  for case in 1 2; do
    inked=$("$build/bench/ink/ink_bench" "$seconds" "$case" | tee /dev/stderr | sed -n 's/^RESULT //p')
    eval "$inked"
    ratio=$(awk -v a="$cpu_ms_per_frame" -v b="$plain_ms" 'BEGIN { printf "%.3f", a / b }')
    name=$([ "$case" = 1 ] && echo "ink shown" || echo "ink and a pen at 120 Hz")
    echo
    echo "round $round, $name: frames shown per second: $shown_fps (goal >= 29)"
    echo "round $round, $name: CPU per frame: ${cpu_ms_per_frame} ms, without ink ${plain_ms} ms, ratio ${ratio} (goal <= 1.10)"
    echo "round $round, $name: the view's ink paint time per paint: ${paint_ms} ms; slowest pointer event ${slowest_event_ms} ms (120 Hz: 8.33 ms)"
    echo
  done
done
echo "load: $(uptime)"
