#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The project cloned where a new user would clone it: inside a folder no other user may enter
# (root's home is mode 700 on Debian), under a path with spaces. The clone is configured and the
# test that runs unprivileged (usb_emulated_permission_tests) is built and run there, from another
# working directory: whatever drops privileges must still reach the build tree.
# Usage: clone-check.sh [REPOSITORY]   (default: the repository this script is in; its HEAD)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=${1:-$(cd "$here/../.." && pwd)}
fail() { echo "clone check: FAIL: $*" >&2; exit 1; }

top=$(mktemp -d)
trap 'rm -rf "$top"' EXIT
private="$top/no entry"
mkdir -m 700 "$private"
clone="$private/quillora clone"
git clone -q "$repo" "$clone"

# The premise: another user cannot enter the folder (checked where we can become another user).
if [ "$(id -u)" -eq 0 ] && setpriv --reuid=65534 --regid=65534 --clear-groups test -x "$private" 2>/dev/null; then
  fail "nobody may enter $private; the check would prove nothing"
fi

# The real devices' data as the original tree sees it, since the clone has no ../shared beside it.
realdata=${QUILLORA_REALDATA:-$repo/../shared/realdata}
cmake -S "$clone" -B "$clone/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLORA_BUILD_BENCH=OFF \
  -DQUILLORA_REALDATA="$realdata" >/dev/null || fail "the clone does not configure"
cmake --build "$clone/build" --target usb_emulated_tests >/dev/null || fail "the clone does not build"
cd /
QT_QPA_PLATFORM=offscreen ctest --test-dir "$clone/build" --output-on-failure --no-tests=error -R '^usb_emulated_permission_tests$' \
  || fail "usb_emulated_permission_tests failed in $clone"
echo "clone check: the unprivileged test passes in a clone under '$private'"
