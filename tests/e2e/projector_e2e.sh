#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# At the projector, as a user drives the running program under Xvfb: F11 makes the window cover
# the screen and Escape gives it back its old place and size; Ctrl++ enlarges the page (200 % after
# three steps: the middle of the window is the middle of the fitted page, twice as large) and
# Ctrl+0 brings it back; the camera's mode is chosen once, so neither rebuilt the session.
# Usage: projector_e2e.sh <quillora binary>
set -euo pipefail
bin=$1
source "$(dirname "$0")/e2e-lib.sh"
e2e_setup "e2e projector" "$@"
export QUILLORA_MESSAGE_LOG="$work/messages"

geometry() { # "x,y wxh" of the window
  xdotool getwindowgeometry "$win" | awk '/Position/ { split($2, p, ","); pos = p[1] "," p[2] } /Geometry/ { size = $2 } END { print pos " " size }'
}
said() { grep -qxF "$1" "$work/messages" 2>/dev/null; }
shot() { # the window into $work/$1.png
  import -window "$win" "$work/$1.png" 2>/dev/null
}
# The window's middle, w x h, as a picture of its own.
middle() { # name, w, h, out
  convert "$work/$1.png" -gravity center -crop "$2x$3+0+0" +repage "$work/$4.png"
}
rmse() { # how unlike two pictures of one size are, 0..1
  { compare -metric RMSE "$work/$1.png" "$work/$2.png" null: 2>&1 || true; } | sed -n 's/.*(\([0-9.e-]*\)).*/\1/p'
}

# Whether the window's middle shows the page (paper, not the black of no picture yet).
page_shown() { # name
  shot "$1" || return 1
  middle "$1" 320 240 "$1-middle"
  awk -v m="$(convert "$work/$1-middle.png" -colorspace gray -format '%[fx:mean]' info:)" 'BEGIN { exit !(m > 0.5) }'
}
# Whether the zoomed window's middle is the fitted page's middle enlarged twice: more like the
# fitted page's quarter enlarged than like the fitted page as it was.
enlarged() {
  shot zoomed || return 1
  middle zoomed 320 240 zoomed-middle
  enlarged=$(rmse zoomed-middle fit-enlarged)
  unchanged=$(rmse zoomed-middle fit-middle)
  awk -v a="$enlarged" -v b="$unchanged" 'BEGIN { exit !(a < b / 2) }'
}
returned() {
  shot back || return 1
  middle back 320 240 back-middle
  returned=$(rmse back-middle fit-middle)
  awk -v r="$returned" 'BEGIN { exit !(r < 0.05) }'
}

start_app
wait_for 'grep -q "quillora.capture: session started" "$work/log"' || fail "no session"
wait_for 'page_shown first' || fail "no page in the window"
before=$(geometry)
screen=$(xdpyinfo 2>/dev/null | awk '/dimensions:/ && !s { s = $2 } END { print s }' || true)
[ -n "$screen" ] || screen=1280x1024

xdotool key --window "$win" F11
wait_for '[ "$(geometry)" = "0,0 $screen" ]' || fail "F11: the window is at $(geometry), not covering the $screen screen"

# Zoomed in full screen, where the window's middle is the picture's.
wait_for 'page_shown fit' || fail "no page in full screen"
middle fit 160 120 fit-quarter
convert "$work/fit-quarter.png" -resize 320x240! "$work/fit-enlarged.png"
xdotool key --window "$win" ctrl+plus
xdotool key --window "$win" ctrl+plus
xdotool key --window "$win" ctrl+plus
wait_for 'said "zoom: 200 %"' || fail "no 200 % after three steps: $(cat "$work/messages" 2>/dev/null)"
said "zoom: 126 %" && said "zoom: 159 %" || fail "the steps were not shown: $(cat "$work/messages")"
wait_for enlarged ||
  fail "Ctrl++ did not enlarge the page: like the fitted page enlarged $enlarged, like it as it was $unchanged"
xdotool key --window "$win" ctrl+0
wait_for 'said "zoom: 100 %"' || fail "Ctrl+0 did not fit: $(cat "$work/messages")"
wait_for returned || fail "Ctrl+0 did not bring the page back ($returned)"

xdotool key --window "$win" Escape
wait_for '[ "$(geometry)" = "$before" ]' || fail "Escape: the window is at $(geometry), not back at $before"

[ "$(grep -c 'quillora.capture: camera mode:' "$work/log")" = 1 ] || fail "the session was rebuilt: $(grep 'camera mode:' "$work/log")"
quit_app
echo "$e2e_name: ok (enlarged $enlarged, unchanged $unchanged, back $returned)"
