#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Full scans by our movie scanner of 60-s Video CD, Super Video CD and DVD program streams and
# of a 600-s Video CD stream, beside `ffprobe -v error -count_packets` of the same files and
# `cat` to /dev/null (page-cache read speed). Prints seconds (median of RUNS, warm page cache).
# Target: no slower than ffprobe per stream, and near the read speed on the long one.
#
#   bench/mpeg_scanner/run.sh [BUILD_DIR]      (configured with -DQUILLION_BUILD_BENCH=ON)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-bench}
bench=$build/bench/mpeg_scanner/mpeg_scanner_bench
runs=${RUNS:-5}
[ -x "$bench" ] || { echo "build $bench first (-DQUILLION_BUILD_BENCH=ON)"; exit 1; }
for tool in ffmpeg ffprobe; do
  command -v "$tool" >/dev/null || { echo "$tool is missing"; exit 1; }
done
work=$(mktemp -d /tmp/quillion-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8 TZ=UTC RUNS=$runs

make() {  # name seconds size rate audio-rate target [extra]
  ffmpeg -v error -y -f lavfi -i "testsrc=size=$3:rate=$4:duration=$2" \
    -f lavfi -i "sine=r=$5:d=$2" -target "$6" "${@:7}" "$work/$1.mpg"
}
echo "generating streams in $work"
make vcd60 60 352x288 25 44100 pal-vcd
make svcd60 60 480x576 25 44100 pal-svcd
make dvd60 60 720x576 25 48000 pal-dvd -c:a mp2 -b:a 224k
make vcd600 600 352x288 25 44100 pal-vcd

# Median wall time of $runs runs of a command, in seconds.
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

printf '%-8s %10s %10s %10s %8s\n' stream ours ffprobe cat ratio
for name in vcd60 svcd60 dvd60 vcd600; do
  file=$work/$name.mpg
  cat "$file" >/dev/null  # warm the page cache
  ours=$("$bench" "$file" | cut -f2 | cut -d' ' -f1)
  probe=$(median ffprobe -v error -count_packets -show_entries stream=nb_read_packets "$file")
  read=$(median cat "$file")
  printf '%-8s %10.4f %10.4f %10.4f %8.2f\n' "$name" "$ours" "$probe" "$read" \
    "$(echo "$ours / $probe" | bc -l)"
done
