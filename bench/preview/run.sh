#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Preview benchmark: Quillora's capture layer and live view against a reference gst-launch-1.0
# pipeline of the same source (the application's virtual camera, loaded as a GStreamer plugin),
# decoding, conversion and scaling into fakesink, in one run. Two cases: a raw 2048x1536 camera,
# and a 2048x1536 MJPEG camera (JPEG frames, as a document camera sends its large sizes).
# Usage: bench/preview/run.sh [build dir] [seconds] [raw|mjpeg|both]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
seconds=${2:-20}
which=${3:-both}
w=2048 h=1536

export GST_PLUGIN_PATH="$build/bench/virtualcamera${GST_PLUGIN_PATH:+:$GST_PLUGIN_PATH}"
gst-inspect-1.0 quilloravirtualcamera >/dev/null 2>&1 || { echo "the virtual camera plugin is missing: ninja -C $build gstquilloravirtualcamera" >&2; exit 2; }

# run_case NAME V4L2-FORMAT GOAL REFERENCE-DECODE
run_case() {
  local name=$1 format=$2 goal=$3 decode=$4
  echo "== $name: Quillora preview (capture layer + live view), ${w}x${h} ${format} at 30 fps, ${seconds} s"
  local ours
  ours=$("$build/bench/preview/preview_bench" "$seconds" "$w" "$h" "$format" | tee /dev/stderr | sed -n 's/^RESULT //p')
  eval "$ours"
  echo "== $name reference: gst-launch-1.0, the same virtual camera,${decode:+ jpegdec +} videoconvert + videoscale into fakesink"
  local ref_time ref_cpu ref_ms ratio
  # shellcheck disable=SC2086
  ref_time=$( { /usr/bin/time -f '%U %S' timeout -s INT "$((seconds + 1))" gst-launch-1.0 -q \
    quilloravirtualcamera format=$format width=$w height=$h $decode \
    ! videoconvert ! videoscale ! "video/x-raw,width=1024,height=768" ! fakesink sync=true >/dev/null || true; } 2>&1 | tail -n1 )
  ref_cpu=$(echo "$ref_time" | awk '{print $1 + $2}')
  # The reference is a live 30 fps source that ran for the whole time (one second less start-up
  # for our warm-up, so the per-frame figure is the fair one).
  ref_ms=$(awk -v c="$ref_cpu" -v s="$((seconds + 1))" 'BEGIN { printf "%.3f", c * 1000 / (30 * s) }')
  echo "reference: ${ref_cpu} s CPU in $((seconds + 1)) s, ${ref_ms} ms CPU per frame"
  ratio=$(awk -v a="$cpu_ms_per_frame" -v b="$ref_ms" 'BEGIN { printf "%.2f", a / b }')
  echo
  echo "$name: frames shown per second: $shown_fps (goal >= 29)"
  echo "$name: CPU per frame: ours ${cpu_ms_per_frame} ms, reference ${ref_ms} ms, ratio ${ratio} (goal <= $goal)"
  echo
}

case $which in
  raw) run_case raw XR24 1.5 "" ;;
  mjpeg) run_case mjpeg MJPG 1.2 "! jpegdec" ;;
  *) run_case raw XR24 1.5 ""; run_case mjpeg MJPG 1.2 "! jpegdec" ;;
esac
