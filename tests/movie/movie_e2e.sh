#!/usr/bin/env bash
# The running application records as a user does it: under Xvfb, Ctrl+Shift+R starts and
# stops a movie, the next one is numbered, and Ctrl+Q in the middle of a third leaves a movie
# that plays. Usage: movie_e2e.sh <quillora binary> <movie_inspect binary>
set -euo pipefail
bin=$1
inspect=$2

if [ -z "${MOVIE_E2E_INSIDE_XVFB:-}" ]; then
  export MOVIE_E2E_INSIDE_XVFB=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/config"
mkdir -p "$HOME/Desktop" "$XDG_CONFIG_HOME" "$work/bin"
movies="$HOME/Desktop"
# What the program asks the desktop to open is written down, never opened.
cat > "$work/bin/xdg-open" <<EOS
#!/bin/sh
printf '%s\n' "\$1" >> "$work/opened"
EOS
chmod +x "$work/bin/xdg-open"
export PATH="$work/bin:$PATH"
unset QT_QPA_PLATFORM
export QT_LOGGING_RULES="quillora.*.info=true"
export QUILLORA_VIRTUAL_CAMERAS="Virtual Document Camera|Virtual Camera|virtual-0"
export QUILLORA_VIRTUAL_MICROPHONE="Virtual Microphone"

fail() { echo "movie e2e: FAIL: $*" >&2; echo "--- log:" >&2; cat "$work/log" >&2 || true; exit 1; }

"$bin" >"$work/log" 2>&1 &
app=$!
for _ in $(seq 1 100); do
  win=$(xdotool search --onlyvisible --name '^Quillora Camera$' 2>/dev/null | head -n1 || true)
  [ -n "$win" ] && break
  sleep 0.1
done
[ -n "${win:-}" ] || fail "no main window"
xdotool windowactivate --sync "$win" >/dev/null 2>&1 || xdotool windowfocus --sync "$win" >/dev/null 2>&1 || true
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
xdotool key --clearmodifiers ctrl+q
for _ in $(seq 1 150); do
  kill -0 "$app" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$app" 2>/dev/null; then kill -9 "$app"; fail "did not quit"; fi
set +e; wait "$app"; status=$?; set -e
[ "$status" -eq 0 ] || fail "exit status $status"
out=$("$inspect" "$movies/Quillora2.mov") || fail "the movie cut by quitting does not play: $out"
[ "$(wc -l < "$work/opened")" -eq 2 ] || fail "quitting opened something"
echo "movie e2e: ok"
