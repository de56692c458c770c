#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Four recordings as a user makes them, the way the growth was first seen: the application
# under Xvfb with the virtual camera and microphone at the largest photo size, Ctrl+Shift+R
# twice per recording (6 s each), then a while of idle preview. Prints the resident size and
# open descriptors of the running process before, after each recording and after the idle
# time. Usage: bench/soak/recordings-xvfb.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
bin="$build/src/app/quillora"
[ -x "$bin" ] || { echo "build it first: ninja -C $build quillora" >&2; exit 2; }
source "$root/tests/e2e/e2e-lib.sh"
QUILLORA_VIRTUAL_MICROPHONE="Virtual Microphone" e2e_setup "recordings" "$@"
mkdir -p "$XDG_CONFIG_HOME/Quillora"
printf '[General]\npic_size=1536\nvid_path=%s\n' "$work" > "$XDG_CONFIG_HOME/Quillora/quillora.conf"

# A label; the process's resident size (and its parts: anonymous memory, and mapped files,
# which are mostly the code of the libraries loaded so far), open descriptors and threads.
state() {
  field() { awk -v key="$1:" '$1 == key { print $2 }' "/proc/$app/status"; }
  printf '%-22s RSS %6d kB (anon %6d, files %6d)   fds %3d   threads %3d\n' "$1" "$(field VmRSS)" \
    "$(field RssAnon)" "$(field RssFile)" "$(ls "/proc/$app/fd" | wc -l)" "$(field Threads)"
}

# The virtual camera encodes each of the page's 120 distinct frames the first time it sends it
# (a camera encodes in hardware; the stand-in does it once per process) and the session that
# does so keeps a full-size drawing of the page for it (12 MB at this size). The first preview
# gets twelve seconds to send them all, so that no later session is charged with that drawing.
start_app
sleep 12
state "started"
for n in 1 2 3 4; do
  focus "$win"
  xdotool key --clearmodifiers ctrl+shift+r
  sleep 6
  xdotool key --clearmodifiers ctrl+shift+r
  wait_for "[ \$(grep -c 'movie written' '$work/log') -ge $n ]" || fail "recording $n was not written"
  sleep 3
  state "after recording $n"
done
sleep 10
state "after 10 s idle"
quit_app
