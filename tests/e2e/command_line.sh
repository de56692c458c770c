#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The command line without a display: --version and --help answer and exit 0 without opening
# a window; an unknown option or a stray argument is an error with a clear message (exit 2).
# Usage: command_line.sh <quillora binary>
set -uo pipefail
bin=$1
fail() { echo "command line: FAIL: $*" >&2; exit 1; }
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u LC_ALL -u LC_MESSAGES -u LANGUAGE LANG="${lang:-C.UTF-8}" timeout 10 "$bin" "$@"; }

out=$(run --version 2>&1); status=$?
[ $status -eq 0 ] || fail "--version exit $status: $out"
[[ "$out" =~ ^Quillora\ Camera\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version said: $out"
out=$(run --help 2>&1); status=$?
[ $status -eq 0 ] || fail "--help exit $status: $out"
grep -q -- '--version' <<<"$out" || fail "--help does not list --version: $out"
grep -q -- '-platform' <<<"$out" && fail "--help lists Qt's hidden options: $out"
for args in "--frobnicate" "-x" "somefile.jpg"; do
  # shellcheck disable=SC2086
  err=$(run $args 2>&1 >/dev/null); status=$?
  [ $status -eq 2 ] || fail "'$args' exit $status (expected 2): $err"
  grep -q "quillora --help" <<<"$err" || fail "'$args' gives no hint: $err"
done
err=$(run --frobnicate 2>&1 >/dev/null)
grep -q "frobnicate" <<<"$err" || fail "the unknown option is not named: $err"
err=$(lang=de_DE.UTF-8 run --frobnicate 2>&1 >/dev/null)
grep -q "Unbekannte Option" <<<"$err" || fail "not German under LANG=de_DE.UTF-8: $err"
echo "command line: ok"
