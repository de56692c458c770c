#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Soak benchmark: a school day's work through the application's own operations, with memory,
# descriptors and threads sampled as it goes. Usage: bench/soak/run.sh [build-dir] [scale]
# (scale 1: 50 recordings, 500 photos, 50 camera switches, 50 preference changes, 200
# freezes and rotations; 0.2 is a quick look). Further arguments go to soak_bench: a kind to
# look at alone and how often to sample, e.g. bench/soak/run.sh build 1 freeze 20.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
scale=${2:-1}
bench="$build/bench/soak/soak_bench"
[ -x "$bench" ] || { echo "build it first: ninja -C $build soak_bench" >&2; exit 2; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export XDG_CONFIG_HOME="$out/config"
export QUILLORA_VIRTUAL_CAMERAS="Desk|Desk Camera|desk-0;Board|Board Camera|board-1"
export QUILLORA_VIRTUAL_MICROPHONE="Soak Tone"
mkdir -p "$out/files"
shift $(( $# > 2 ? 2 : $# ))
"$bench" "$out/files" "$scale" "$@"
