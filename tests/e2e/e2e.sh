#!/usr/bin/env bash
# End-to-end checks of the running application. Usage: e2e.sh <quillora binary> <scenario>
# Each scenario starts the program under its own Xvfb with virtual devices and drives it with
# xdotool; the program's own log lines and the recorded xdg-open calls are the evidence.
set -euo pipefail
bin=$1
scenario=$2
here=$(cd "$(dirname "$0")" && pwd)

if [ -z "${E2E_INSIDE_XVFB:-}" ]; then
  export E2E_INSIDE_XVFB=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME" "$work/bin" "$work/out"
# What the program asks the desktop to open is written down, never opened.
cat > "$work/bin/xdg-open" <<EOS
#!/bin/sh
printf '%s\n' "\$1" >> "$work/opened"
EOS
chmod +x "$work/bin/xdg-open"
export PATH="$work/bin:$PATH"
unset QT_QPA_PLATFORM
export QT_LOGGING_RULES="quillora.*.info=true"
export QUILLORA_VIRTUAL_CAMERAS="${E2E_CAMERAS:-Virtual Document Camera|Virtual Camera|virtual-0}"

fail() { echo "e2e $scenario: FAIL: $*" >&2; echo "--- log:" >&2; cat "$work/log" >&2 || true; exit 1; }

start_app() {
  "$bin" >"$work/log" 2>&1 &
  app=$!
  for _ in $(seq 1 100); do
    win=$(xdotool search --onlyvisible --name '^Quillora Camera$' 2>/dev/null | head -n1 || true)
    [ -n "$win" ] && break
    sleep 0.1
  done
  [ -n "${win:-}" ] || fail "no main window"
  xdotool windowactivate --sync "$win" >/dev/null 2>&1 || xdotool windowfocus --sync "$win" >/dev/null 2>&1 || true
}

wait_exit() {
  for _ in $(seq 1 100); do
    kill -0 "$app" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$app" 2>/dev/null; then kill -9 "$app"; fail "did not quit"; fi
  set +e; wait "$app"; status=$?; set -e
}

mean_of_window() { # prints the mean brightness (0..1) of the window's picture area
  import -window "$win" "$work/shot.png" 2>/dev/null
  convert "$work/shot.png" -gravity center -crop 60%x50%+0+0 -colorspace Gray -format '%[fx:mean]' info:
}

case "$scenario" in
  live-and-quit)
    start_app
    sleep 1.5
    grep -q 'quillora.capture: session started: preview 640x480' "$work/log" || fail "no preview session"
    a=$(mean_of_window); cp "$work/shot.png" "$work/a.png"
    sleep 0.7
    b=$(mean_of_window)
    # The page is light paper with dark text: clearly not a black window.
    awk -v m="$a" 'BEGIN { exit !(m > 0.45) }' || fail "picture too dark ($a): no live page shown"
    cmp -s "$work/a.png" "$work/shot.png" && fail "two screenshots 0.7 s apart are identical: picture not live"
    xdotool key --clearmodifiers ctrl+q
    wait_exit
    [ "$status" -eq 0 ] || fail "exit status $status"
    ;;
  *)
    fail "unknown scenario"
    ;;
esac
echo "e2e $scenario: ok"
