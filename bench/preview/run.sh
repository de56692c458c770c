#!/usr/bin/env bash
# Preview benchmark: Quillora's capture layer and live view against a reference gst-launch-1.0
# pipeline of the same source (the application's virtual camera, loaded as a GStreamer plugin),
# conversion and scaling into fakesink, in one run.
# Usage: bench/preview/run.sh [build dir] [seconds]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
seconds=${2:-20}
w=2048 h=1536

echo "== Quillora preview (capture layer + live view), ${w}x${h} at 30 fps, ${seconds} s"
ours=$("$build/bench/preview/preview_bench" "$seconds" "$w" "$h" | tee /dev/stderr | sed -n 's/^RESULT //p')
eval "$ours"

export GST_PLUGIN_PATH="$build/bench/virtualcamera${GST_PLUGIN_PATH:+:$GST_PLUGIN_PATH}"
gst-inspect-1.0 quilloravirtualcamera >/dev/null 2>&1 || { echo "the virtual camera plugin is missing: ninja -C $build gstquilloravirtualcamera" >&2; exit 2; }
echo "== reference: gst-launch-1.0, the same virtual camera, videoconvert + videoscale into fakesink"
ref_time=$( { /usr/bin/time -f '%U %S' timeout -s INT "$((seconds + 1))" gst-launch-1.0 -q \
  quilloravirtualcamera width=$w height=$h \
  ! videoconvert ! videoscale ! "video/x-raw,width=1024,height=768" ! fakesink sync=true >/dev/null || true; } 2>&1 | tail -n1 )
ref_cpu=$(echo "$ref_time" | awk '{print $1 + $2}')
# The reference is a live 30 fps source that ran for the whole time (one second less start-up
# for our warm-up, so the per-frame figure is the fair one).
ref_ms=$(awk -v c="$ref_cpu" -v s="$((seconds + 1))" 'BEGIN { printf "%.3f", c * 1000 / (30 * s) }')
echo "reference: ${ref_cpu} s CPU in $((seconds + 1)) s, ${ref_ms} ms CPU per frame"

ratio=$(awk -v a="$cpu_ms_per_frame" -v b="$ref_ms" 'BEGIN { printf "%.2f", a / b }')
echo
echo "frames shown per second: $shown_fps (goal >= 29)"
echo "CPU per frame: ours ${cpu_ms_per_frame} ms, reference ${ref_ms} ms, ratio ${ratio} (goal <= 1.5)"
