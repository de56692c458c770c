#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Recording benchmark: the application records a movie at the 640x480 preset from a
# 1280x1024 virtual camera at 30 fps with a virtual microphone while its preview runs; then
# a reference gst-launch-1.0 pipeline records the same sources (the virtual camera as a
# plugin, the same test tone) to the same format with the same encoder settings. Usage: bench/movie/run.sh [build-dir] [seconds]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
seconds=${2:-60}
bench="$build/bench/movie/movie_bench"
[ -x "$bench" ] || { echo "build it first: ninja -C $build movie_bench" >&2; exit 2; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

export QT_QPA_PLATFORM=offscreen
export XDG_CONFIG_HOME="$out/config"
export QUILLORA_VIRTUAL_CAMERAS="Bench|Bench Camera|bench-0|1280x1024"
export QUILLORA_VIRTUAL_MICROPHONE="Bench Tone"

echo "== application: ${seconds}s recording, preview running =="
"$bench" record "$out" "$seconds" 10 | tee "$out/app.txt"

echo "== reference: gst-launch-1.0, ${seconds}s =="
ref="$out/reference.mov"
# The same stand-in camera (the application's own, loaded as a GStreamer plugin: the same page,
# so the encoder has the same work), the same encoder and muxer settings as the application's
# movie branch.
export GST_PLUGIN_PATH="$build/bench/virtualcamera${GST_PLUGIN_PATH:+:$GST_PLUGIN_PATH}"
gst-inspect-1.0 quilloravirtualcamera >/dev/null 2>&1 || { echo "the virtual camera plugin is missing: ninja -C $build movie_bench" >&2; exit 2; }
TIMEFORMAT="reference_cpu_user_s=%U reference_cpu_sys_s=%S reference_wall_s=%R"
{ time timeout -s INT "$seconds" gst-launch-1.0 -q -e \
    quilloravirtualcamera width=1280 height=1024 \
    ! queue leaky=downstream max-size-buffers=0 max-size-bytes=0 max-size-time=1000000000 \
    ! videoscale ! videoconvert ! video/x-raw,format=I420,width=600,height=480,pixel-aspect-ratio=1/1 \
    ! x264enc speed-preset=veryfast tune=zerolatency bitrate=2000 key-int-max=60 \
    ! qtmux name=mux reserved-max-duration=3600000000000 reserved-moov-update-period=1000000000 \
    ! filesink location="$ref" \
    audiotestsrc is-live=true wave=sine freq=440 volume=0.2 \
    ! queue max-size-buffers=0 max-size-bytes=0 max-size-time=1000000000 \
    ! audioconvert ! audioresample ! audio/x-raw,rate=48000 \
    ! avenc_aac bitrate=160000 ! mux. >/dev/null ; } 2> "$out/ref-time.txt" || true
cat "$out/ref-time.txt"
"$bench" inspect "$ref" | tee "$out/ref.txt"

value() { grep -o "$2=[^ ]*" "$1" | head -1 | cut -d= -f2; }
read -r user sys wall < <(sed -E 's/[a-z_]+=//g' "$out/ref-time.txt" | tail -1)
ref_cpu=$(awk -v u="$user" -v s="$sys" -v w="$wall" 'BEGIN { printf "%.3f", (u + s) / w }')
app_cpu=$(value "$out/app.txt" record_cpu_per_s)
echo
echo "== summary =="
printf "%-34s %12s %12s\n" "" "application" "reference"
printf "%-34s %12s %12s\n" "CPU seconds per second" "$app_cpu" "$ref_cpu"
printf "%-34s %12s %12s\n" "frames in the file" "$(value "$out/app.txt" frames_in_file)" "$(value "$out/ref.txt" frames_in_file)"
printf "%-34s %12s %12s\n" "A/V drift at the end (ms)" "$(value "$out/app.txt" drift_end_ms)" "$(value "$out/ref.txt" drift_end_ms)"
printf "%-34s %12s\n" "frames offered / written" "$(value "$out/app.txt" frames_offered) / $(value "$out/app.txt" frames_written)"
printf "%-34s %12s\n" "preview alone, CPU per second" "$(value "$out/app.txt" preview_cpu_per_s)"
printf "%-34s %12s\n" "preview fps while recording" "$(value "$out/app.txt" record_preview_fps)"
awk -v a="$app_cpu" -v r="$ref_cpu" 'BEGIN { printf "%-34s %12.2f   (goal <= 1.30)\n", "CPU ratio application/reference", a / r }'
