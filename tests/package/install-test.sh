#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package as a user installs it: apt-get installs it into this machine, the program
# answers --version without a display, and the desktop entry, icon, metainfo and udev rule
# are where the desktop, AppStream and udev look for them. The package is removed again.
# Needs root (CI runs as root). Usage: install-test.sh <package.deb>
set -euo pipefail
deb=$(realpath "$1")
fail() { echo "package install test: FAIL: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || fail "needs root to install the package"
# One package test at a time on this machine: two checkouts tested at once would install and
# remove the same package under each other.
exec 9>/tmp/quillora-package-test.lock
flock 9
if dpkg-query -W -f='${Status}' quillora 2>/dev/null | grep -q 'install ok installed'; then
  fail "a quillora package is installed already; not touching it"
fi
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq --no-install-recommends "$deb" >/dev/null
trap 'apt-get remove -y -qq quillora >/dev/null || true' EXIT

version=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= /usr/bin/quillora --version) ||
  fail "quillora --version failed"
expected=$(dpkg-deb -f "$deb" Version)
[ "$version" = "Quillora Camera $expected" ] || fail "quillora --version said '$version'"

udevdir=$(pkg-config --variable=udevdir udev 2>/dev/null || echo /lib/udev)
for f in /usr/share/applications/io.github.quillora.Camera.desktop \
  /usr/share/icons/hicolor/scalable/apps/quillora.svg \
  /usr/share/metainfo/io.github.quillora.Camera.metainfo.xml \
  "$udevdir/rules.d/70-quillora.rules"; do
  [ -f "$f" ] || fail "$f not installed"
  dpkg -S "$f" >/dev/null 2>&1 || fail "$f does not belong to the package"
done
desktop-file-validate /usr/share/applications/io.github.quillora.Camera.desktop || fail "desktop entry"
appstreamcli validate --no-net /usr/share/metainfo/io.github.quillora.Camera.metainfo.xml >/dev/null ||
  fail "metainfo"
# The desktop entry's icon is the installed icon, and the metainfo launches the desktop entry.
grep -qx 'Icon=quillora' /usr/share/applications/io.github.quillora.Camera.desktop || fail "icon name"
grep -q '<launchable type="desktop-id">io.github.quillora.Camera.desktop</launchable>' \
  /usr/share/metainfo/io.github.quillora.Camera.metainfo.xml || fail "launchable"
# Every library the program needs is there (the package's dependencies brought them).
! ldd /usr/bin/quillora | grep -q 'not found' || fail "missing libraries: $(ldd /usr/bin/quillora | grep 'not found')"

apt-get remove -y -qq quillora >/dev/null
trap - EXIT
[ ! -e /usr/bin/quillora ] || fail "quillora still there after removal"
echo "package install test: ok ($version)"
