#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The running application records as a user does it: under Xvfb, Ctrl+Shift+R starts and
# stops a movie, the next one is numbered, and Ctrl+Q in the middle of a third leaves a movie
# that plays. Usage: movie_e2e.sh <quillora binary> <movie_inspect binary>
set -euo pipefail
bin=$1
inspect=$2

source "$(dirname "$0")/../e2e/e2e-lib.sh"
QUILLORA_VIRTUAL_MICROPHONE="Virtual Microphone" e2e_setup "movie e2e" "$@"
movies="$HOME/Desktop"

start_app
logged 'quillora.capture: first frame' || fail "no frame reached the window"

record() { # seconds on the recording indicator, expected file name, the recordings before
  : >"$work/messages"
  xdotool key --clearmodifiers ctrl+shift+r
  logged 'session started: recording' "$(($3 + 1))" || fail "no recording session"
  said "^recording: 0:00:0$1 at " || fail "the recording did not reach $1 s: $(cat "$work/messages")"
  xdotool key --clearmodifiers ctrl+shift+r
  logged "movie written: $movies/$2" || fail "no 'movie written' line for $2"
}

record 3 Quillora.mov 0
record 1 Quillora1.mov 1
wait_for '[ "$(wc -l < "$work/opened" 2>/dev/null)" = 2 ]' || fail "opened: $(cat "$work/opened")"
[ "$(cat "$work/opened")" = "$(printf 'file://%s\nfile://%s' "$movies/Quillora.mov" "$movies/Quillora1.mov")" ] \
  || fail "opened: $(cat "$work/opened")"

out=$("$inspect" "$movies/Quillora.mov") || fail "Quillora.mov does not play: $out"
echo "$out" | grep -qx 'container=video/quicktime' || fail "container: $out"
echo "$out" | grep -qx 'video=video/x-h264 640x480' || fail "picture: $out"
echo "$out" | grep -qx 'audio=audio/mpeg/4 48000' || fail "sound: $out"

# Quitting in the middle of a recording.
: >"$work/messages"
xdotool key --clearmodifiers ctrl+shift+r
said '^recording: 0:00:02 at ' || fail "the third recording did not reach 2 s"
quit_app
out=$("$inspect" "$movies/Quillora2.mov") || fail "the movie cut by quitting does not play: $out"
[ "$(wc -l < "$work/opened")" -eq 2 ] || fail "quitting opened something"
echo "$e2e_name: ok"
