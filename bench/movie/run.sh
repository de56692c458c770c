#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Recording benchmark: the application records a movie at the 640x480 preset with a virtual
# microphone while its preview runs; then a reference gst-launch-1.0 pipeline records the same
# sources (the virtual camera as a plugin, the same test tone) to the same format with the same
# encoder settings. Two cases: a raw 1280x1024 camera, and a 2048x1536 MJPEG camera (JPEG
# frames; the reference decodes each in full with jpegdec).
# Usage: bench/movie/run.sh [build-dir] [seconds] [raw|mjpeg|both]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
seconds=${2:-60}
which=${3:-both}
bench="$build/bench/movie/movie_bench"
[ -x "$bench" ] || { echo "build it first: ninja -C $build movie_bench" >&2; exit 2; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

export QT_QPA_PLATFORM=offscreen
export XDG_CONFIG_HOME="$out/config"
export QUILLORA_VIRTUAL_MICROPHONE="Bench Tone"
export GST_PLUGIN_PATH="$build/bench/virtualcamera${GST_PLUGIN_PATH:+:$GST_PLUGIN_PATH}"
gst-inspect-1.0 quilloravirtualcamera >/dev/null 2>&1 || { echo "the virtual camera plugin is missing: ninja -C $build movie_bench" >&2; exit 2; }

# A camera whose only mode is MJPEG 2048x1536 at 30 fps, as v4l2-ctl lists it: the application
# has no smaller raw mode to fall back on for the movie, so it records from JPEG frames.
cat > "$out/mjpeg-2048.txt" <<'MODES'
ioctl: VIDIOC_ENUM_FMT
	Type: Video Capture

	[0]: 'MJPG' (Motion-JPEG, compressed)
		Size: Discrete 2048x1536
			Interval: Discrete 0.033s (30.000 fps)
MODES

# Seconds the reference runs before its CPU is counted: more than one period (4 s) of the page.
warmup=5
ticks=$(getconf CLK_TCK)
# CPU seconds (user + system) a process has used so far.
cpu_of() {
  awk -v t="$ticks" '{ printf "%.3f", ($14 + $15) / t }' "/proc/$1/stat"
}

value() { grep -o "$2=[^ ]*" "$1" | head -1 | cut -d= -f2; }

# run_case NAME CAMERA-MODES REFERENCE-SOURCE MOVIE-SIZE
run_case() {
  local name=$1 modes=$2 source=$3 size=$4
  local dir="$out/$name"
  mkdir -p "$dir"
  echo "== $name: application, ${seconds}s recording, preview running =="
  QUILLORA_VIRTUAL_CAMERAS="Bench|Bench Camera|bench-0|$modes" \
    "$bench" record "$dir" "$seconds" 10 | tee "$dir/app.txt"

  echo "== $name reference: gst-launch-1.0, ${seconds}s =="
  local ref="$dir/reference.mov"
  # The same stand-in camera (the application's own, loaded as a GStreamer plugin: the same
  # page, so the encoder has the same work), the same encoder and muxer settings as the
  # application's movie branch.
  # Its CPU is taken from the end of a warm-up to its end, as the application's is taken after
  # its preview ran: the stand-in encodes each distinct JPEG frame of its page the first time
  # it sends it (a camera does that in its own hardware), which is not what the host pays.
  # shellcheck disable=SC2086
  /usr/bin/time -f '%U %S' -o "$dir/ref-total.txt" gst-launch-1.0 -q -e \
      $source \
      ! queue leaky=downstream max-size-buffers=0 max-size-bytes=0 max-size-time=1000000000 \
      ! videoscale ! videoconvert ! video/x-raw,format=I420,$size,pixel-aspect-ratio=1/1 \
      ! x264enc speed-preset=veryfast tune=zerolatency bitrate=2000 key-int-max=60 \
      ! qtmux name=mux reserved-max-duration=3600000000000 reserved-moov-update-period=1000000000 \
      ! filesink location="$ref" \
      audiotestsrc is-live=true wave=sine freq=440 volume=0.2 \
      ! queue max-size-buffers=0 max-size-bytes=0 max-size-time=1000000000 \
      ! audioconvert ! audioresample ! audio/x-raw,rate=48000 \
      ! avenc_aac bitrate=160000 ! mux. >/dev/null &
  local timer=$! pid="" cpu0 t0 t1
  sleep 1
  pid=$(cat "/proc/$timer/task/$timer/children")
  pid=${pid%% *}
  sleep "$((warmup - 1))"
  cpu0=$(cpu_of "$pid") t0=$(date +%s.%N)
  sleep "$seconds"
  kill -INT "$pid" # an end of stream: the movie is finished
  wait "$timer" || true
  t1=$(date +%s.%N)
  echo "reference_cpu_s=$(awk -v a="$cpu0" 'END { print $1 + $2 - a }' "$dir/ref-total.txt") reference_wall_s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')" \
    | tee "$dir/ref-time.txt"
  "$bench" inspect "$ref" | tee "$dir/ref.txt"

  local cpu wall ref_cpu app_cpu
  read -r cpu wall < <(sed -E 's/[a-z_]+=//g' "$dir/ref-time.txt" | tail -1)
  ref_cpu=$(awk -v c="$cpu" -v w="$wall" 'BEGIN { printf "%.3f", c / w }')
  app_cpu=$(value "$dir/app.txt" record_cpu_per_s)
  echo
  echo "== $name: summary =="
  printf "%-34s %12s %12s\n" "" "application" "reference"
  printf "%-34s %12s %12s\n" "CPU seconds per second" "$app_cpu" "$ref_cpu"
  printf "%-34s %12s %12s\n" "frames in the file" "$(value "$dir/app.txt" frames_in_file)" "$(value "$dir/ref.txt" frames_in_file)"
  printf "%-34s %12s %12s\n" "picture size" "$(value "$dir/app.txt" picture)" "$(value "$dir/ref.txt" picture)"
  printf "%-34s %12s %12s\n" "A/V drift at the end (ms)" "$(value "$dir/app.txt" drift_end_ms)" "$(value "$dir/ref.txt" drift_end_ms)"
  printf "%-34s %12s\n" "frames offered / written" "$(value "$dir/app.txt" frames_offered) / $(value "$dir/app.txt" frames_written)"
  printf "%-34s %12s\n" "preview alone, CPU per second" "$(value "$dir/app.txt" preview_cpu_per_s)"
  printf "%-34s %12s\n" "preview fps while recording" "$(value "$dir/app.txt" record_preview_fps)"
  awk -v n="$name" -v a="$app_cpu" -v r="$ref_cpu" -v g="$5" \
    'BEGIN { printf "%-34s %12.2f   (goal <= %s)\n", n ": CPU ratio application/reference", a / r, g }'
  echo
}

raw() {
  # 1280x1024 is 5:4: the 640x480 preset gives 600x480.
  run_case raw 1280x1024 "quilloravirtualcamera width=1280 height=1024" "width=600,height=480" 1.30
}
mjpeg() {
  # The reference decodes every JPEG frame in full, as a general tool does.
  run_case mjpeg "$out/mjpeg-2048.txt" "quilloravirtualcamera format=MJPG width=2048 height=1536 ! jpegdec" \
    "width=640,height=480" 1.00
}

case $which in
  raw) raw ;;
  mjpeg) mjpeg ;;
  *) raw; mjpeg ;;
esac
