#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A real camera's stream replayed to the running program: a v4l2-ctl style recording of a real
# webcam's 640 x 480 MJPEG frames (no Huffman tables, an AVI1 header), every third of them cut
# short. The program runs the camera in its one mode, passes over the frames cut short (and
# says so in its log), and Ctrl+T writes the camera's own bytes: the frame with a JFIF header in
# place of its AVI1 one and the standard Huffman tables (a 420-byte segment) written in.
# Usage: replay_e2e.sh <quillora binary> <real devices' data folder>
set -euo pipefail
bin=$1
realdata=${QUILLORA_REALDATA:-$2}
frame="$realdata/mjpeg-frames/pion_640x480_avi1_nodht.jpg"
if [ ! -f "$frame" ]; then
  echo "replay e2e: skipped: no real devices' data at $realdata/mjpeg-frames"
  exit 0
fi
source "$(dirname "$0")/../e2e/e2e-lib.sh"
e2e_setup "replay e2e" "$@"
desk="$HOME/Desktop"
recording="$work/camera.mjpeg"
size=$(stat -c %s "$frame")
{ cat "$frame" "$frame"; head -c $((size / 2)) "$frame"; } >"$recording"
export QUILLORA_VIRTUAL_CAMERAS="Webcam|UVC Camera VendorID_1133 ProductID_2085|0x01100000046d0825|$recording@15"

start_app
wait_for 'grep -q "camera mode: MJPEG 640x480 @ 15 fps" "$work/log"' || fail "not the recording's mode"
wait_for 'grep -q "camera frame skipped: not a whole JPEG picture" "$work/log"' || fail "no frame cut short passed over"
xdotool key --window "$win" ctrl+t
wait_for '[ -f "$desk/Quillora.jpg" ]' || fail "no Quillora.jpg"
photo="$desk/Quillora.jpg"
[ "$(identify -format '%wx%h' "$photo")" = 640x480 ] || fail "the photo is not 640x480"
# The frame's AVI1 segment (its length at bytes 4 and 5) gives way to an 18-byte JFIF header.
avi1=$((2 + $(od -An -tu1 -j4 -N1 "$frame") * 256 + $(od -An -tu1 -j5 -N1 "$frame")))
expected=$((size - avi1 + 18 + 420))
[ "$(stat -c %s "$photo")" -eq "$expected" ] || fail "the photo is $(stat -c %s "$photo") bytes, not $expected"
[ "$(head -c 11 "$photo" | od -An -tx1 | tr -d ' \n')" = ffd8ffe000104a46494600 ] || fail "no JFIF header first"
! grep -q AVI1 "$photo" || fail "the AVI1 header is still there"
quit_app
echo "$e2e_name: ok"
