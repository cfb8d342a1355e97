#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the Corvel benchmark (Release), makes 60-second Video CD and MPEG-2 elementary
# streams and multiplexes each pair with Corvel and ffmpeg (-c copy),
# reporting time, MB/s of input and peak memory (GNU time), then push mode beside file mode.
# The DVD pair (MPEG-2 and AC-3) is timed over RUNS runs of each side (5 unless set), giving
# the median, as are push and file mode for it.
#   bench/corvel/run-bench.sh [seconds]
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build="$top/build-bench"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLION_BUILD_BENCH=ON \
  -DQUILLION_BUILD_TESTS=OFF -DQUILLION_BUILD_GUI=OFF >/dev/null
cmake --build "$build" --target corvel_bench corvel_push_bench -j "${JOBS:-4}" >/dev/null
seconds=${1:-60}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
ff() { ffmpeg -nostdin -v error -y "$@"; }
ff -f lavfi -i "testsrc=size=352x288:rate=25:duration=$seconds" -c:v mpeg1video -b:v 1150k \
  -minrate 1150k -maxrate 1150k -bufsize 327680 -f mpeg1video v.m1v
ff -f lavfi -i "sine=f=997:sample_rate=44100:d=$seconds" -c:a mp2 -b:a 224k -f mp2 a44.mp2
ff -f lavfi -i "testsrc=size=720x576:rate=25:duration=$seconds" -c:v mpeg2video -b:v 6000k \
  -g 12 -bf 2 -f mpeg2video v.m2v
ff -f lavfi -i "sine=f=440:sample_rate=48000:d=$seconds" -c:a mp2 -b:a 192k -f mp2 a48.mp2
# Push mode needs the rate in the sequence header, as an encoder feeding it writes it.
ff -f lavfi -i "testsrc=size=720x576:rate=25:duration=$seconds" -c:v mpeg2video -b:v 6000k \
  -minrate 6000k -maxrate 6000k -bufsize 1835008 -g 12 -bf 2 -f mpeg2video v-cbr.m2v
# DVD video: closed groups of twelve pictures, so every unit opens with its first picture.
ff -f lavfi -i "testsrc=size=720x576:rate=25:duration=$seconds" -c:v mpeg2video -b:v 6000k \
  -minrate 6000k -maxrate 6000k -bufsize 1835008 -g 12 -bf 2 -flags +cgop \
  -sc_threshold 1000000000 -f mpeg2video v-dvd.m2v
ff -f lavfi -i "sine=f=997:sample_rate=48000:d=$seconds" -c:a ac3 -b:a 192k -f ac3 a.ac3
runs=${RUNS:-5}

measure() {  # label, command...
  local label=$1
  shift
  if ! /usr/bin/time -o "$scratch/time" -f "%e %M" "$@" >/dev/null 2>&1; then
    echo "$label: failed"
    return 0
  fi
  read -r secs kib <"$scratch/time"
  awk -v l="$label" -v s="$secs" -v k="$kib" -v b="$bytes" \
    'BEGIN { printf "%-28s %7.3f s %8.1f MB/s %8d KiB peak\n", l, s, b / 1e6 / (s > 0 ? s : 0.001), k }'
}

bytes=$(($(stat -c %s v.m1v) + $(stat -c %s a44.mp2)))
echo "Video CD pair, $((bytes / 1000000)) MB of elementary streams"
measure "corvel (VCD)" "$build/bench/corvel/corvel_bench" 1 corvel-vcd.mpg v.m1v 1150000 a44.mp2
measure "ffmpeg -f vcd" ffmpeg -nostdin -v error -y -i v.m1v -i a44.mp2 -c copy -f vcd ff-vcd.mpg

bytes=$(($(stat -c %s v.m2v) + $(stat -c %s a48.mp2)))
echo "MPEG-2 pair, $((bytes / 1000000)) MB of elementary streams"
measure "corvel (MPEG-2 program)" "$build/bench/corvel/corvel_bench" 2 corvel-ps.mpg v.m2v 6000000 a48.mp2
measure "ffmpeg -f vob" ffmpeg -nostdin -v error -y -i v.m2v -i a48.mp2 -c copy -f vob ff-ps.vob

echo "Push mode beside file mode (into memory; the producer's fifo writes included)"
"$build/bench/corvel/corvel_push_bench" 1 v.m1v a44.mp2
"$build/bench/corvel/corvel_push_bench" 2 v-cbr.m2v a48.mp2

median() {  # the middle of the numbers on stdin
  sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

timed_median() {  # label, command...: the median wall time over $runs runs, and MB/s
  local label=$1 start end
  shift
  for ((i = 0; i < runs; ++i)); do
    start=$EPOCHREALTIME
    "$@" >/dev/null 2>&1 || { echo "$label: failed"; return 0; }
    end=$EPOCHREALTIME
    awk -v s="$start" -v e="$end" 'BEGIN { print e - s }'
  done >"$scratch/runs"
  awk -v l="$label" -v s="$(median <"$scratch/runs")" -v b="$bytes" -v n="$runs" \
    'BEGIN { printf "%-28s %7.3f s %8.1f MB/s (median of %d)\n", l, s, b / 1e6 / s, n }'
}

bytes=$(($(stat -c %s v-dvd.m2v) + $(stat -c %s a.ac3)))
echo "DVD pair (MPEG-2, AC-3), $((bytes / 1000000)) MB of elementary streams"
timed_median "corvel (DVD)" "$build/bench/corvel/corvel_bench" 4 corvel-dvd.vob v-dvd.m2v 6000000 a.ac3
timed_median "ffmpeg -f dvd" ffmpeg -nostdin -v error -y -i v-dvd.m2v -i a.ac3 -c copy -f dvd ff-dvd.vob

echo "DVD push mode beside file mode (into memory), medians of $runs runs"
for ((i = 0; i < runs; ++i)); do
  "$build/bench/corvel/corvel_push_bench" 4 v-dvd.m2v a.ac3 || { echo "DVD push: failed"; exit 1; }
done >"$scratch/push"
file_s=$(awk '/^file mode/ { print $3 }' "$scratch/push" | median)
push_s=$(awk '/^push mode/ { print $3 }' "$scratch/push" | median)
awk -v f="$file_s" -v p="$push_s" -v b="$bytes" 'BEGIN {
  printf "file mode %.3f s %8.1f MB/s\npush mode %.3f s %8.1f MB/s (%.1f%% of file mode'"'"'s time)\n",
    f, b / 1e6 / f, p, b / 1e6 / p, 100 * p / f }'
