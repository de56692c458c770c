#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The camera's button in the running application, end to end. Usage: button-e2e.sh <quillora>
# <camera_on_port42>. The program runs under Xvfb and under umockdev: the tests' Quillora camera
# at bus 1, ports 4.2 (camera_on_port42 describes it), whose video-control interface the video
# driver holds, with the input device the driver makes for its button. The script hands each
# KEY_CAMERA press to the input device when the program says it waits for one (a device script
# read from a pipe), never at a time guessed in advance. The picture comes from a virtual camera
# with the same identity. Presses: one that gives a photo, one inside the two-second hold that
# gives none (the log says it was held off), a focus click (Ctrl+Shift+F), then once the hold
# is over one that gives the second photo.
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
# umockdev reads the input device's script as it goes: a line written to the pipe is a press
# handed over at once. The pipe is held open here for writing, so that umockdev's open of it
# does not wait; the script ends when this shell closes it.
mkfifo "$work/presses"
exec 4<>"$work/presses"
press() { "$describe" press >&4; }
waiting=0
press_when_waited_for() { # a press once the listener waits for its next one
  waiting=$((waiting + 1))
  logged 'quillora.listener: waiting for a press of the camera.s button' "$waiting" || fail "the listener does not wait for press $waiting"
  press
}

photos() { find "$work/out" -type f | wc -l; }

# umockdev-run puts its preload library first; an address-sanitized build wants its runtime
# first, and only checks so: umockdev's library wraps device calls, not memory, so the order
# does not matter here.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
# The program and umockdev do not keep the pipe's writing end: the script ends when it closes.
start_app umockdev-run --device "$work/camera.umockdev" --script "/dev/input/event7=$work/presses" -- 4>&-

logged 'quillora.listener: listening to the camera.s button on /dev/input/event7' || fail "not on the input device"
logged 'quillora.capture: first frame' || fail "no frame reached the window"
press_when_waited_for
logged 'quillora.output: photo written' || fail "no photo for the first press"
press_when_waited_for
logged 'quillora.output: camera button: held off' || fail "the press inside the hold was not held off"
[ "$(photos)" -eq 1 ] || fail "$(photos) photos after a press inside the hold (want 1)"
logged 'quillora.listener: waiting for a press of the camera.s button' 3 || fail "no wait after the press in the hold"
focus "$win"
xdotool key --clearmodifiers ctrl+shift+f
logged 'quillora.output: camera button: the hold is over' || fail "the hold never ended"
# The focus click lets the input device go and takes it again (or the read still queued
# serves): either way one more wait for a press follows it.
waiting=$((waiting + 1))
press_when_waited_for
logged 'quillora.output: photo written' 2 || fail "no photo for the press after the focus click"
[ "$(photos)" -eq 2 ] || fail "$(photos) photos (want 2)"
wait_for '[ "$(wc -l < "$work/opened" 2>/dev/null)" -eq 2 ]' || fail "photos opened: $(cat "$work/opened")"

# No more presses: umockdev's device script ends, and umockdev can end with the program.
exec 4>&-
quit_app
# BUTTON_E2E_LOG=1 shows the program's log of a run that passed.
[ -z "${BUTTON_E2E_LOG:-}" ] || cat "$work/log" >&2
echo "$e2e_name: ok"
