#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The live picture as a user sees it: the running program under Xvfb with a virtual camera shows
# a light page that changes from one moment to the next, and Ctrl+Q ends it with status 0.
# Usage: e2e.sh <quillora binary>
set -euo pipefail
bin=$1
source "$(dirname "$0")/e2e-lib.sh"
e2e_setup "e2e live picture" "$@"

start_app
logged 'quillora.capture: first frame: 640x480' || fail "no frame reached the window"
grep -q 'quillora.capture: session started: preview 640x480' "$work/log" || fail "no preview session"
# The page is light paper with dark text: clearly not a black window, once it is painted.
wait_for 'a=$(mean_of_window); awk -v m="$a" "BEGIN { exit !(m > 0.45) }"' || fail "picture too dark ($a): no live page shown"
cp "$work/shot.png" "$work/first.png"
wait_for 'mean_of_window >/dev/null; ! cmp -s "$work/first.png" "$work/shot.png"' || fail "the picture never changed: not live"
quit_app
echo "$e2e_name: ok"
