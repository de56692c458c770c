# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by the end-to-end scripts: source it, then call e2e_setup "<name>" "$@".
# The program runs under an X server (Xvfb) of its own, with a temporary HOME (with a Desktop folder) and
# XDG_CONFIG_HOME, and an xdg-open early in PATH that writes down what it was asked to open
# (one line each in $work/opened) instead of opening it.

# Starts an Xvfb on a display number it picks itself and sets DISPLAY once it takes
# connections. Xvfb claims the number with its lock file (xvfb-run -a only guesses a free one
# from the lock files it sees, and two scripts starting together guess the same). It stays up
# between the program's starts (-noreset).
start_xvfb() {
  mkfifo "$work/xvfb-display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/xvfb-display" 2>"$work/xvfb.log" &
  xvfb=$!
  local display=""
  read -r display <"$work/xvfb-display" || true
  if [ -z "$display" ]; then
    cat "$work/xvfb.log" >&2
    echo "$e2e_name: FAIL: Xvfb did not start" >&2
    exit 1
  fi
  export DISPLAY=":$display"
}

e2e_setup() { # name, then the script's own arguments
  e2e_name=$1
  shift
  work=$(mktemp -d)
  trap 'kill -9 "${app:-0}" 2>/dev/null || true; kill "${xvfb:-0}" 2>/dev/null || true; rm -rf "$work"' EXIT
  start_xvfb
  export HOME="$work/${E2E_HOME_NAME:-home}" XDG_CONFIG_HOME="$work/config"
  mkdir -p "$HOME/Desktop" "$XDG_CONFIG_HOME" "$work/bin"
  cat >"$work/bin/xdg-open" <<EOS
#!/bin/sh
printf '%s\n' "\$1" >> "$work/opened"
EOS
  chmod +x "$work/bin/xdg-open"
  export PATH="$work/bin:$PATH"
  unset QT_QPA_PLATFORM
  export QT_LOGGING_RULES="${QT_LOGGING_RULES:-quillora.*.info=true}"
  export QUILLORA_VIRTUAL_CAMERAS="${QUILLORA_VIRTUAL_CAMERAS-Virtual Document Camera|Virtual Camera|virtual-0}"
  export QUILLORA_VIRTUAL_MICROPHONE="${QUILLORA_VIRTUAL_MICROPHONE-}"
  export QUILLORA_MESSAGE_LOG="$work/messages"
}

fail() {
  echo "$e2e_name: FAIL: $*" >&2
  echo "--- log:" >&2
  cat "$work/log" >&2 || true
  exit 1
}

wait_for() { # a shell condition, tried for up to thirty seconds (a loaded machine is slow)
  for _ in $(seq 1 300); do
    eval "$1" && return 0
    sleep 0.1
  done
  return 1
}

logged() { # a pattern (grep -E) of the program's log, and how many such lines to wait for (1)
  for _ in $(seq 1 300); do
    [ "$(grep -cE -- "$1" "$work/log" 2>/dev/null || true)" -ge "${2:-1}" ] && return 0
    sleep 0.1
  done
  return 1
}

said() { # a line the window showed (QUILLORA_MESSAGE_LOG), waited for like logged
  for _ in $(seq 1 300); do
    grep -qE -- "$1" "$work/messages" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

find_window() { # a title pattern; prints the window id, empty after fifteen seconds
  local w=""
  for _ in $(seq 1 150); do
    w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1 || true)
    [ -n "$w" ] && break
    sleep 0.1
  done
  echo "$w"
}

focus() { # a window id
  xdotool windowactivate --sync "$1" >/dev/null 2>&1 || xdotool windowfocus --sync "$1" >/dev/null 2>&1 || true
}

mean_of_window() { # the mean brightness (0..1) of the middle of the window
  import -window "$win" "$work/shot.png" 2>/dev/null
  convert "$work/shot.png" -gravity center -crop 60%x50%+0+0 -colorspace Gray -format '%[fx:mean]' info:
}

start_app() { # [a command to run the program under, e.g. umockdev-run …]; sets $app and $win
  "$@" "$bin" >"$work/log" 2>&1 &
  app=$!
  win=$(find_window '^Quillora Camera$')
  [ -n "$win" ] || fail "no main window"
  focus "$win"
}

quit_app() { # Ctrl+Q; the program must end by itself with status 0
  focus "$win"
  xdotool key --clearmodifiers ctrl+q
  for _ in $(seq 1 150); do
    kill -0 "$app" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$app" 2>/dev/null; then
    kill -9 "$app"
    fail "did not quit"
  fi
  local status=0
  wait "$app" || status=$?
  [ "$status" -eq 0 ] || fail "exit status $status"
}
