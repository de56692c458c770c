#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Preview benchmark: Quillora's capture layer and live view against a reference gst-launch-1.0
# pipeline of the same source (the application's virtual camera, loaded as a GStreamer plugin),
# decoding, conversion and scaling into fakesink, in one run. Three cases: a raw 2048x1536 camera,
# a 2048x1536 MJPEG camera (JPEG frames, as a document camera sends its large sizes), and the
# same MJPEG camera with the view zoomed 4x into the middle of the page (mjpeg-zoom: the view
# decodes only the part it shows, at the camera's own detail; the reference still decodes all).
# Usage: bench/preview/run.sh [build dir] [seconds] [raw|mjpeg|mjpeg-zoom|all]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
seconds=${2:-20}
which=${3:-both}
w=2048 h=1536
# Seconds before measuring, on both sides: more than one period (4 s) of the page's moving block.
warmup=5
ticks=$(getconf CLK_TCK)

# CPU seconds (user + system) a running process has used so far.
cpu_of() {
  awk -v t="$ticks" '{ printf "%.3f", ($14 + $15) / t }' "/proc/$1/stat"
}

export GST_PLUGIN_PATH="$build/bench/virtualcamera${GST_PLUGIN_PATH:+:$GST_PLUGIN_PATH}"
gst-inspect-1.0 quilloravirtualcamera >/dev/null 2>&1 || { echo "the virtual camera plugin is missing: ninja -C $build gstquilloravirtualcamera" >&2; exit 2; }

# run_case NAME V4L2-FORMAT GOAL REFERENCE-DECODE [ZOOM]
run_case() {
  local name=$1 format=$2 goal=$3 decode=$4 zoom=${5:-1}
  echo "== $name: Quillora preview (capture layer + live view, zoom ${zoom}x), ${w}x${h} ${format} at 30 fps, ${seconds} s"
  local ours
  ours=$("$build/bench/preview/preview_bench" "$seconds" "$w" "$h" "$format" "$warmup" "$zoom" | tee -a /dev/stderr | sed -n 's/^RESULT //p')
  eval "$ours"
  echo "== $name reference: gst-launch-1.0, the same virtual camera,${decode:+ jpegdec +} videoconvert + videoscale into fakesink"
  local ref_pid cpu0 cpu1 ref_cpu ref_ms ratio
  # Measured like ours, after a warm-up of one period of the camera's page: the stand-in
  # encodes each of its distinct JPEG frames the first time it sends it (a camera does that in
  # its own hardware), so the first seconds of either process are not what the host pays.
  # shellcheck disable=SC2086
  gst-launch-1.0 -q quilloravirtualcamera format=$format width=$w height=$h $decode \
    ! videoconvert ! videoscale ! "video/x-raw,width=1024,height=768" ! fakesink sync=true >/dev/null &
  ref_pid=$!
  sleep "$warmup"
  cpu0=$(cpu_of "$ref_pid")
  sleep "$seconds"
  cpu1=$(cpu_of "$ref_pid")
  kill -INT "$ref_pid" 2>/dev/null || true
  wait "$ref_pid" 2>/dev/null || true
  ref_cpu=$(awk -v a="$cpu0" -v b="$cpu1" 'BEGIN { printf "%.2f", b - a }')
  ref_ms=$(awk -v c="$ref_cpu" -v s="$seconds" 'BEGIN { printf "%.3f", c * 1000 / (30 * s) }')
  echo "reference: ${ref_cpu} s CPU in ${seconds} s after ${warmup} s of warm-up, ${ref_ms} ms CPU per frame"
  ratio=$(awk -v a="$cpu_ms_per_frame" -v b="$ref_ms" 'BEGIN { printf "%.2f", a / b }')
  echo
  echo "$name: frames shown per second: $shown_fps (goal >= 29)"
  echo "$name: CPU per frame: ours ${cpu_ms_per_frame} ms, reference ${ref_ms} ms, ratio ${ratio} (goal <= $goal)"
  echo
}

case $which in
  raw) run_case raw XR24 1.5 "" ;;
  mjpeg) run_case mjpeg MJPG 0.6 "! jpegdec" ;;
  mjpeg-zoom) run_case mjpeg-zoom MJPG 1.0 "! jpegdec" 4 ;;
  *)
    run_case raw XR24 1.5 ""
    run_case mjpeg MJPG 0.6 "! jpegdec"
    run_case mjpeg-zoom MJPG 1.0 "! jpegdec" 4
    ;;
esac
