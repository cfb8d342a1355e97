#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the burn benchmarks (Release), generates a 2 GB layout under /tmp (eight files of
# 256 MB), and times writing it as a Joliet volume: to the ISO image writer, to one and to
# three emulated DVD-R writers, beside `xorriso -as mkisofs -o` and `dd` of the same bytes.
# Prints time, throughput and peak memory of each. The emulated writers keep their discs in
# files and open them for every command, so their figures bound the engine from below. The
# image writer syncs its file before it reports success (a failing disk must show), so `dd`
# is timed twice: as it is, and with conv=fsync, the like-for-like yardstick. Everything it
# made under /tmp is deleted.
#   bench/burn/run-drive-bench.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build="$top/build-bench"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLION_BUILD_BENCH=ON \
  -DQUILLION_BUILD_TESTS=OFF -DQUILLION_BUILD_GUI=OFF >/dev/null
cmake --build "$build" --target burn_bench burn_drive_bench -j "${JOBS:-4}" >/dev/null
scratch=$(mktemp -d /tmp/quillion-drive-bench-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

tree="$scratch/tree"
mkdir -p "$tree"
for i in 1 2 3 4 5 6 7 8; do
  head -c $((256 * 1024 * 1024)) /dev/urandom >"$tree/part$i.bin"
done
sync

peak() { # peak resident set of a command, in MB, from GNU time
  awk -F': ' '/Maximum resident set size/ {printf "%.1f", $2 / 1024}' "$1"
}
timed() { # NAME BYTES COMMAND...: wall time, throughput and peak memory of one run
  local name=$1 bytes=$2
  shift 2
  local start end
  start=$(date +%s.%N)
  /usr/bin/time -v -o "$scratch/t" "$@" >"$scratch/out" 2>&1 || { cat "$scratch/out"; return 1; }
  end=$(date +%s.%N)
  awk -v n="$name" -v s="$start" -v e="$end" -v b="$bytes" -v m="$(peak "$scratch/t")" \
    'BEGIN {printf "%-28s %6.2f s  %5.0f MB/s  peak RSS %s MB\n", n, e - s, b / 1e6 / (e - s), m}'
}

for round in 1 2; do
  echo "-- round $round"
  rm -rf "$scratch/q.iso" "$scratch/x.iso" "$scratch/dd.iso" "$scratch/media"*
  timed "ISO image writer" "$(du -sb "$tree" | cut -f1)" \
    "$build/bench/burn/burn_bench" "$tree" "$scratch/q.iso" iso
  bytes=$(stat -c %s "$scratch/q.iso")
  timed "one DVD-R writer" "$bytes" \
    "$build/bench/burn/burn_drive_bench" "$tree" 1 "$scratch/media1"
  rm -rf "$scratch/media1"
  timed "three DVD-R writers" "$bytes" \
    "$build/bench/burn/burn_drive_bench" "$tree" 3 "$scratch/media3"
  rm -rf "$scratch/media3"
  timed "xorriso -as mkisofs -J" "$bytes" \
    xorriso -as mkisofs -quiet -J -o "$scratch/x.iso" "$tree"
  timed "dd of the same bytes" "$bytes" \
    dd if="$scratch/q.iso" of="$scratch/dd.iso" bs=1M status=none
  sync
  timed "dd, synced at its end" "$bytes" \
    dd if="$scratch/q.iso" of="$scratch/dd.iso" bs=1M status=none conv=fsync
done
