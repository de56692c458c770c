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
sleep 1

wait_for_line() { # pattern, seconds
  for _ in $(seq 1 $(($2 * 10))); do
    grep -q "$1" "$work/log" && return 0
    sleep 0.1
  done
  return 1
}

record() { # seconds, expected file name
  xdotool key --clearmodifiers ctrl+shift+r
  wait_for_line 'session started: recording' 10 || fail "no recording session"
  sleep "$1"
  xdotool key --clearmodifiers ctrl+shift+r
  wait_for_line "movie written: $movies/$2" 15 || fail "no 'movie written' line for $2"
}

record 3 Quillora.mov
record 1 Quillora1.mov
sleep 0.5
[ "$(cat "$work/opened")" = "$(printf 'file://%s\nfile://%s' "$movies/Quillora.mov" "$movies/Quillora1.mov")" ] \
  || fail "opened: $(cat "$work/opened")"

out=$("$inspect" "$movies/Quillora.mov") || fail "Quillora.mov does not play: $out"
echo "$out" | grep -qx 'container=video/quicktime' || fail "container: $out"
echo "$out" | grep -qx 'video=video/x-h264 640x480' || fail "picture: $out"
echo "$out" | grep -qx 'audio=audio/mpeg/4 48000' || fail "sound: $out"

# Quitting in the middle of a recording.
xdotool key --clearmodifiers ctrl+shift+r
sleep 2
quit_app
out=$("$inspect" "$movies/Quillora2.mov") || fail "the movie cut by quitting does not play: $out"
[ "$(wc -l < "$work/opened")" -eq 2 ] || fail "quitting opened something"
echo "$e2e_name: ok"
