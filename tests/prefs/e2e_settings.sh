#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The settings in the running application: Ctrl+, opens the preferences panel, Return confirms
# it, and what it stores comes back at the next start. Usage: e2e_settings.sh <quillora binary>
# The home folder has a space and a non-ASCII letter in its name.
set -euo pipefail
bin=$1

source "$(dirname "$0")/../e2e/e2e-lib.sh"
E2E_HOME_NAME="home of Zoë" QT_LOGGING_RULES="quillora.prefs.info=true" e2e_setup "e2e settings" "$@"
store="$XDG_CONFIG_HOME/Quillora/quillora.conf"

# Starts the program, opens the panel with Ctrl+, confirms it with Return, quits with Ctrl+Q.
confirm_once() {
  start_app
  xdotool key --clearmodifiers ctrl+comma
  panel=$(find_window '^Preferences$')
  [ -n "$panel" ] || fail "Ctrl+, showed no preferences panel"
  focus "$panel"
  xdotool key --clearmodifiers Return
  for _ in $(seq 1 50); do
    grep -q 'quillora.prefs: settings saved to' "$work/log" && break
    sleep 0.1
  done
  grep -q 'quillora.prefs: settings saved to' "$work/log" || fail "Return did not confirm the panel"
  [ -z "$(xdotool search --onlyvisible --name '^Preferences$' 2>/dev/null || true)" ] || fail "panel still shown"
  quit_app
}

value() { # key: the stored line's value as written in the file
  sed -n "s/^$1=//p" "$store"
}

# First start: the ten texts of a first start, the Desktop of a home with a space in it.
confirm_once
desktop="$HOME/Desktop/"
[ "$(value vid_size)" = 480 ] || fail "vid_size $(value vid_size)"
[ "$(value vid_captureaudio)" = yes ] || fail "vid_captureaudio"
[ "$(value vid_path)" = "$desktop" ] || fail "vid_path '$(value vid_path)' is not '$desktop'"
[ "$(value vid_filename)" = Quillora ] || fail "vid_filename"
[ "$(value vid_overwrite)" = no ] || fail "vid_overwrite"
[ "$(value pic_size)" = 480 ] || fail "pic_size"
[ "$(value pic_format)" = jpg ] || fail "pic_format"
[ "$(value pic_path)" = "$desktop" ] || fail "pic_path '$(value pic_path)'"
[ "$(value pic_filename)" = Quillora ] || fail "pic_filename"
[ "$(value pic_overwrite)" = no ] || fail "pic_overwrite"

# Values of a previous run come back: confirming at once stores them again unchanged.
cat > "$store" <<EOS
[General]
pic_filename=Receipt
pic_format=tiff
pic_overwrite=yes
pic_path=file:///tmp/Scans%20%C3%A0%20moi/
pic_size=1200
vid_captureaudio=no
vid_filename=Lecture
vid_overwrite=yes
vid_path=/tmp/Movies of Zoë/
vid_size=240
EOS
before=$(cat "$store")
confirm_once
[ "$(cat "$store")" = "$before" ] || fail "stored values did not come back: $(cat "$store")"
echo "$e2e_name: ok"
