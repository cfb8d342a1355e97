#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the Daskin benchmark (Release), makes a 60-second program stream and transport
# stream (720x576 MPEG-2 video with MPEG audio) and pulls every video chunk of each, beside
# `ffprobe -count_packets`. Target: faster than ffprobe.
#   bench/daskin/run-bench.sh [file ...]
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build="$top/build-bench"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLION_BUILD_BENCH=ON \
  -DQUILLION_BUILD_TESTS=OFF -DQUILLION_BUILD_GUI=OFF >/dev/null
cmake --build "$build" --target daskin_bench -j "${JOBS:-4}" >/dev/null
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
if [[ $# -eq 0 ]]; then
  inputs=(-f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=r=48000 -t 60)
  ffmpeg -nostdin -v error -y "${inputs[@]}" -target pal-dvd "$scratch/in.vob"
  ffmpeg -nostdin -v error -y "${inputs[@]}" -c:v mpeg2video -b:v 6M -c:a mp2 -f mpegts "$scratch/in.ts"
  set -- "$scratch/in.vob" "$scratch/in.ts"
fi
"$build/bench/daskin/daskin_bench" "$@"
