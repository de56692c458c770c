#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The photo as a user takes it: the running program under its own Xvfb with a virtual camera,
# driven by its shortcuts. Ctrl+T twice gives Quillora.jpg and Quillora1.jpg, each handed to
# xdg-open once; after Ctrl+R the next photo is 480 x 640 with the page's marker top right.
# Usage: photo_e2e.sh <quillora binary>
set -euo pipefail
bin=$1
source "$(dirname "$0")/../e2e/e2e-lib.sh"
QT_LOGGING_RULES="quillora.output.info=true;quillora.capture.info=true" e2e_setup "photo e2e" "$@"
desk="$HOME/Desktop"

start_app
logged 'quillora.capture: first frame' || fail "no frame reached the window"

xdotool key --window "$win" ctrl+t
wait_for '[ -f "$desk/Quillora.jpg" ]' || fail "no Quillora.jpg"
xdotool key --window "$win" ctrl+t
wait_for '[ -f "$desk/Quillora1.jpg" ]' || fail "no Quillora1.jpg"
xdotool key --window "$win" ctrl+r
xdotool key --window "$win" ctrl+t
wait_for '[ -f "$desk/Quillora2.jpg" ]' || fail "no Quillora2.jpg"
wait_for '[ "$(wc -l < "$work/opened" 2>/dev/null)" = 3 ]' || fail "opened: $(cat "$work/opened" 2>/dev/null)"

expected=$(printf 'file://%s\n' "$desk/Quillora.jpg" "$desk/Quillora1.jpg" "$desk/Quillora2.jpg")
[ "$(cat "$work/opened")" = "$expected" ] || fail "opened $(cat "$work/opened"), expected $expected"
grep -q "photo written: $desk/Quillora1.jpg" "$work/log" || fail "no log line"
[ "$(identify -format '%wx%h' "$desk/Quillora.jpg")" = 640x480 ] || fail "Quillora.jpg is not 640x480"
[ "$(identify -format '%wx%h' "$desk/Quillora2.jpg")" = 480x640 ] || fail "Quillora2.jpg is not 480x640"
# The marker's centre, (60, 60) on the 640 x 480 page, lands at (419, 60) after a quarter turn
# clockwise; the plain paper at the page's top right, (579, 60), lands at (419, 579).
gray() { convert "$desk/Quillora2.jpg" -colorspace Gray -format "%[fx:int(255*p{$1,$2})]" info:; }
[ "$(gray 419 60)" -lt 60 ] || fail "marker not top right"
[ "$(gray 419 579)" -gt 190 ] || fail "paper not bottom right"
echo "$e2e_name: ok"
