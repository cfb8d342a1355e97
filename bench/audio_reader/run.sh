#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Decoding of 5-minute MP3 and FLAC files into CD blocks by our audio file reader, beside
# `ffmpeg -f s16le -ac 2 -ar 44100` of the same files to /dev/null. Prints seconds (median of
# RUNS, warm page cache) and blocks per second. Target: no slower than ffmpeg.
#
#   bench/audio_reader/run.sh [BUILD_DIR]      (configured with -DQUILLION_BUILD_BENCH=ON)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-bench}
bench=$build/bench/audio_reader/audio_reader_bench
runs=${RUNS:-5}
[ -x "$bench" ] || { echo "build $bench first (-DQUILLION_BUILD_BENCH=ON)"; exit 1; }
for tool in ffmpeg sox bc; do
  command -v "$tool" >/dev/null || { echo "$tool is missing"; exit 1; }
done
work=$(mktemp -d /tmp/quillion-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8 TZ=UTC RUNS=$runs

echo "generating 5-minute files in $work"
sox -n -r 44100 -c 2 -b 16 "$work/src.wav" synth 300 pinknoise vol 0.5
ffmpeg -v error -y -i "$work/src.wav" -c:a libmp3lame -b:a 192k "$work/five.mp3"
ffmpeg -v error -y -i "$work/src.wav" -c:a flac "$work/five.flac"
ffmpeg -v error -y -i "$work/src.wav" -ar 48000 -c:a libmp3lame -b:a 192k "$work/five48.mp3"

median() {
  local times=()
  for _ in $(seq "$runs"); do
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    times+=("$(echo "$end - $start" | bc -l)")
  done
  printf '%s\n' "${times[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p"
}

printf '%-12s %10s %10s %12s %8s\n' file ours ffmpeg blocks/s ratio
for name in five.mp3 five.flac five48.mp3; do
  file=$work/$name
  cat "$file" >/dev/null
  line=$("$bench" "$file")
  ours=$(echo "$line" | cut -f2 | cut -d' ' -f1)
  rate=$(echo "$line" | cut -f4 | cut -d' ' -f1)
  ref=$(median ffmpeg -v error -y -i "$file" -f s16le -ac 2 -ar 44100 /dev/null)
  printf '%-12s %10.4f %10.4f %12s %8.2f\n' "$name" "$ours" "$ref" "$rate" \
    "$(echo "$ours / $ref" | bc -l)"
done
