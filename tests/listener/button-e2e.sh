#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The camera's button in the running application, end to end. Usage: button-e2e.sh <quillora>
# <camera_on_port42>. The program runs under Xvfb and under umockdev: the tests' Quillora camera
# at bus 1, ports 4.2 (camera_on_port42 describes it), whose video-control interface the video
# driver holds, with the input device the driver makes for its button; KEY_CAMERA presses are
# replayed from evemu events. The picture comes from a virtual camera with the same identity.
# Presses: one that gives a photo, one inside the two-second hold that gives none (the log says
# it was held off), a focus click (Ctrl+Shift+F), then one that gives the second photo. The
# replay keeps its own time; every check waits for the program's log lines.
set -euo pipefail
bin=$1
describe=$2

source "$(dirname "$0")/../e2e/e2e-lib.sh"
QUILLORA_VIRTUAL_CAMERAS="Quillora Document Camera|UVC Camera VendorID_2316 ProductID_890|0x01420000090c037a" \
  e2e_setup "button e2e" "$@"
mkdir -p "$XDG_CONFIG_HOME/Quillora" "$work/out"
cat > "$XDG_CONFIG_HOME/Quillora/quillora.conf" <<EOS
[General]
pic_path=$work/out/
pic_filename=Button
pic_overwrite=no
pic_format=jpg
pic_size=240
EOS
"$describe" 7 > "$work/camera.umockdev"
press() { printf 'E: %s 0001 00d4 1\nE: %s 0000 0000 0\n' "$1" "$1"; printf 'E: %s 0001 00d4 0\nE: %s 0000 0000 0\n' "$2" "$2"; }
{
  echo "E: 100.000000 0000 0000 0"
  press 106.000000 106.100000 # the photo
  press 107.000000 107.100000 # inside the hold: none
  press 114.000000 114.100000 # well after the focus click: the second photo
} > "$work/presses.evemu"

photos() { find "$work/out" -type f | wc -l; }

# umockdev-run puts its preload library first; an address-sanitized build wants its runtime
# first, and only checks so: umockdev's library wraps device calls, not memory, so the order
# does not matter here.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
start_app umockdev-run --device "$work/camera.umockdev" --evemu-events "/dev/input/event7=$work/presses.evemu" --

logged 'quillora.listener: listening to the camera.s button on /dev/input/event7' || fail "not on the input device"
logged 'quillora.output: photo written' || fail "no photo for the first press"
logged 'quillora.output: camera button: held off' || fail "the press inside the hold was not held off"
[ "$(photos)" -eq 1 ] || fail "$(photos) photos after a press inside the hold (want 1)"
focus "$win"
xdotool key --clearmodifiers ctrl+shift+f
logged 'quillora.output: photo written' 2 || fail "no photo for the press after the focus click"
[ "$(photos)" -eq 2 ] || fail "$(photos) photos (want 2)"
wait_for '[ "$(wc -l < "$work/opened" 2>/dev/null)" -eq 2 ]' || fail "photos opened: $(cat "$work/opened")"

quit_app
# BUTTON_E2E_LOG=1 shows the program's log of a run that passed.
[ -z "${BUTTON_E2E_LOG:-}" ] || cat "$work/log" >&2
echo "$e2e_name: ok"
