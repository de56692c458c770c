#!/usr/bin/env bash
# The photo as a user takes it: the running program under its own Xvfb with a virtual camera,
# driven by its shortcuts. Ctrl+T twice gives Quillora.jpg and Quillora1.jpg, each handed to
# xdg-open once; after Ctrl+R the next photo is 480 x 640 with the page's marker top right.
# Usage: photo_e2e.sh <quillora binary>
set -euo pipefail
bin=$1
if [ -z "${PHOTO_E2E_INSIDE_XVFB:-}" ]; then
  export PHOTO_E2E_INSIDE_XVFB=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

work=$(mktemp -d)
trap 'kill -9 "${app:-0}" 2>/dev/null || true; rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/config"
desk="$HOME/Desktop"
mkdir -p "$desk" "$XDG_CONFIG_HOME" "$work/bin"
# What the program asks the desktop to open is written down, never opened.
cat > "$work/bin/xdg-open" <<EOS
#!/bin/sh
printf '%s\n' "\$1" >> "$work/opened"
EOS
chmod +x "$work/bin/xdg-open"
export PATH="$work/bin:$PATH"
unset QT_QPA_PLATFORM
export QT_LOGGING_RULES="quillora.output.info=true"
export QUILLORA_VIRTUAL_CAMERAS="Virtual Document Camera|Virtual Camera|virtual-0"
export QUILLORA_VIRTUAL_MICROPHONE=""

fail() { echo "photo e2e: FAIL: $*" >&2; echo "--- log:" >&2; cat "$work/log" >&2 || true; exit 1; }
wait_for() { for _ in $(seq 1 100); do eval "$1" && return 0; sleep 0.1; done; return 1; }

"$bin" >"$work/log" 2>&1 &
app=$!
disown
wait_for 'win=$(xdotool search --onlyvisible --name "^Quillora Camera$" 2>/dev/null | head -n1) && [ -n "$win" ]' ||
  fail "no main window"
xdotool windowactivate --sync "$win" >/dev/null 2>&1 || xdotool windowfocus --sync "$win" >/dev/null 2>&1 || true
sleep 1 # the first frames

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
echo "photo e2e: ok"
