#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What the running program tells its user, read through its message log (QUILLORA_MESSAGE_LOG,
# one line per message the window shows) instead of pixels: a photo into a missing folder
# says why; the recording indicator appears where the record button is, counts, and a
# mouse click on it stops the recording with a movie that plays; without a camera the
# picture says so, in German under LANG=de_DE.UTF-8.
# Usage: feedback_e2e.sh <quillora binary> <movie_inspect binary>
set -euo pipefail
bin=$1
inspect=$2
source "$(dirname "$0")/e2e-lib.sh"
e2e_setup "e2e window feedback" "$@"
mkdir -p "$XDG_CONFIG_HOME/Quillora"
cat >"$XDG_CONFIG_HOME/Quillora/quillora.conf" <<EOS
[General]
pic_path=$work/missing/
vid_path=$HOME/Desktop/
EOS

start_app
logged 'quillora.capture: first frame' || fail "no frame reached the window"
xdotool key --window "$win" ctrl+t
said '^status: Photo not saved: the folder does not exist$' || fail "no message for the missing folder: $(cat "$work/messages" 2>/dev/null)"
grep -q 'quillora.output: photo not written:' "$work/log" || fail "the log line is gone"

xdotool key --window "$win" ctrl+shift+r
said '^recording: 0:00:02 at ' || fail "the indicator did not count: $(cat "$work/messages")"
grep -q "^recording: 0:00:00 at " "$work/messages" || fail "the indicator did not start at 0:00:00"
# Its place in the window: "x,y wxh"; a click in its middle.
read -r x y w h < <(sed -n 's/^recording: 0:00:02 at \([0-9]*\),\([0-9]*\) \([0-9]*\)x\([0-9]*\)$/\1 \2 \3 \4/p' "$work/messages")
xdotool mousemove --window "$win" $((x + w / 2)) $((y + h / 2)) click 1
said '^status: Movie saved: Quillora.mov$' || fail "the click did not stop the recording: $(cat "$work/messages")"
out=$("$inspect" "$HOME/Desktop/Quillora.mov") || fail "the movie does not play: $out"
echo "$out" | grep -qx 'video=video/x-h264 640x480' || fail "picture: $out"
quit_app

# No camera, in German: the message over the picture.
: >"$work/messages"
QUILLORA_VIRTUAL_CAMERAS="" LANG=de_DE.UTF-8 LANGUAGE= LC_ALL= start_app
said '^picture: Keine Kamera angeschlossen$' || fail "no German camera message: $(cat "$work/messages")"
quit_app
echo "$e2e_name: ok"
