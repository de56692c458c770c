#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The camera's picture controls in the running program: a brightness remembered for the virtual
# camera in the settings file makes the page it shows measurably brighter from the start, garbage
# in the group starts as cleanly as nothing at all (and leaves the file as it was), and
# Ctrl+Shift+P opens the panel of the camera in use. Usage: picture_controls_e2e.sh <quillora binary>
set -euo pipefail
bin=$1
source "$(dirname "$0")/e2e-lib.sh"
e2e_setup "e2e picture controls" "$@"
store="$XDG_CONFIG_HOME/Quillora/quillora.conf"
mkdir -p "$(dirname "$store")"

# Starts the program with the settings file given on stdin, waits for its picture and sets $mean
# to the middle's mean brightness. (In this shell: quit_app needs the program start_app started.)
run_with_store() {
  cat >"$store"
  start_app
  logged 'quillora.capture: first frame' || fail "no frame reached the window"
  # Light paper, once it is painted (the brightest is far above, garbage stays at the plain one).
  wait_for 'mean=$(mean_of_window); awk -v m="$mean" "BEGIN { exit !(m > 0.45) }"' || fail "no page shown ($mean)"
}

run_with_store <<EOS
[General]
pic_filename=Lesson
EOS
plain=$mean
quit_app

run_with_store <<EOS
[General]
pic_filename=Lesson
[CameraControls]
virtual-0\\0x00980900=40
EOS
brighter=$mean
grep -q 'quillora.capture: picture controls of Virtual Document Camera: 1 stored value(s) set' "$work/log" \
  || fail "the remembered brightness was not set"
awk -v a="$plain" -v b="$brighter" 'BEGIN { exit !(b > a + 0.05) }' \
  || fail "a remembered brightness of 40 did not brighten the page ($plain -> $brighter)"
xdotool key --clearmodifiers ctrl+shift+p
panel=$(find_window '^Picture Controls: Virtual Document Camera$')
[ -n "$panel" ] || fail "Ctrl+Shift+P showed no picture controls"
quit_app

cat >"$work/garbage.conf" <<EOS
[General]
pic_filename=Lesson
[CameraControls]
virtual-0\\0x00980900=very bright
virtual-0\\exposure=3
virtual-0\\0x0098090=99999999999999
loose=1
EOS
run_with_store <"$work/garbage.conf"
garbled=$mean
grep -q 'quillora.prefs: 4 entries of \[CameraControls\] ignored' "$work/log" || fail "the garbage was not reported"
[ "$(grep -c 'entries of \[CameraControls\] ignored' "$work/log")" = 1 ] || fail "the garbage was reported more than once"
awk -v a="$plain" -v b="$garbled" 'BEGIN { exit !(b < a + 0.03 && b > a - 0.03) }' \
  || fail "garbage changed the picture ($plain -> $garbled)"
quit_app
cmp -s "$store" "$work/garbage.conf" || fail "the settings file was changed: $(cat "$store")"
echo "$e2e_name: ok"
