#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Ink, as a user draws it on the running program under Xvfb: Ctrl+I, a line dragged with the
# mouse across the page, Ctrl+Shift+T; the annotated photo has a row of the pen's red along the
# line, and the photo Ctrl+T takes next has not.
# Usage: ink_e2e.sh <quillora binary>
set -euo pipefail
bin=$1
source "$(dirname "$0")/e2e-lib.sh"
e2e_setup "e2e ink" "$@"

# The most red pixels (the pen's red) one row of a photo has, and which row: "count row".
reddest_row() {
  convert "$1" -depth 8 txt:- | awk -F'[(),: ]+' 'NR > 1 && $3 > 170 && $4 < 90 && $5 < 90 { n[$2]++ }
    END { best = 0; row = -1; for (y in n) if (n[y] > best) { best = n[y]; row = y } print best, row }'
}
# How many red pixels row $2 of photo $1 has.
red_in_row() {
  convert "$1" -crop "x1+0+$2" +repage -depth 8 txt:- | awk -F'[(),: ]+' 'NR > 1 && $3 > 170 && $4 < 90 && $5 < 90 { n++ } END { print n + 0 }'
}
photos() { wc -l <"$work/opened" 2>/dev/null || echo 0; }
opened() { # the file the program asked to open $1st
  sed -n "${1}p" "$work/opened" | sed 's|^file://||'
}

start_app
wait_for 'grep -q "quillora.capture: session started" "$work/log"' || fail "no session"
logged "quillora.capture: first frame" || fail "no frame reached the window"
eval "$(xdotool getwindowgeometry --shell "$win")"
# The X server hands the key and the pointer's moves to the program in the order they were made,
# so ink is on before the drag and the stroke is finished before the photo's key.
xdotool key --window "$win" ctrl+i
# Across the middle of the picture, in small steps as a hand moves.
y=$((Y + HEIGHT / 2))
xdotool mousemove $((X + WIDTH / 5)) "$y"
xdotool mousedown 1
for step in $(seq 1 30); do
  xdotool mousemove $((X + WIDTH / 5 + step * WIDTH * 3 / 5 / 30)) "$y"
done
xdotool mouseup 1

xdotool key --window "$win" ctrl+shift+t
wait_for '[ "$(photos)" -ge 1 ]' || fail "Ctrl+Shift+T opened no photo"
annotated=$(opened 1)
[ -f "$annotated" ] || fail "the annotated photo $annotated is not there"
xdotool key --window "$win" ctrl+t
wait_for '[ "$(photos)" -ge 2 ]' || fail "Ctrl+T opened no photo"
plain=$(opened 2)
[ "$plain" != "$annotated" ] || fail "both photos were written as $plain"

width=$(identify -format '%w' "$annotated")
read -r count row <<<"$(reddest_row "$annotated")"
# The line crossed three fifths of the picture's width.
[ "$row" -ge 0 ] && [ "$count" -gt $((width / 3)) ] || fail "no red line in the annotated photo (at most $count red pixels in a row of $width)"
inplain=$(red_in_row "$plain" "$row")
[ "$inplain" -lt $((width / 10)) ] || fail "the photo of Ctrl+T has the line too ($inplain red pixels in row $row)"
quit_app
echo "$e2e_name: ok (row $row: $count red pixels with ink, $inplain without)"
