#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the burn benchmark (Release), generates two trees under /tmp (20,000 small files;
# 1.5 GB of large files), writes each as a Joliet ISO image with the burn job and with
# `xorriso -as mkisofs`, and prints time, throughput and peak memory of both. Everything it
# made under /tmp is deleted at the end.
#   bench/burn/run-bench.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build="$top/build-bench"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLION_BUILD_BENCH=ON \
  -DQUILLION_BUILD_TESTS=OFF -DQUILLION_BUILD_GUI=OFF >/dev/null
cmake --build "$build" --target burn_bench -j "${JOBS:-4}" >/dev/null
scratch=$(mktemp -d /tmp/quillion-burn-bench-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

small="$scratch/small"
large="$scratch/large"
# 20,000 files of 1 to 16 KB in 200 folders.
python3 - "$small" <<'PY'
import os, random, sys
root = sys.argv[1]
rnd = random.Random(1)
for d in range(200):
    folder = os.path.join(root, "dir%03d" % d)
    os.makedirs(folder)
    for f in range(100):
        with open(os.path.join(folder, "file%03d.dat" % f), "wb") as out:
            out.write(rnd.randbytes(rnd.randint(1024, 16384)))
PY
# 1.5 GB: six files of 256 MB.
mkdir -p "$large"
for i in 1 2 3 4 5 6; do
  head -c $((256 * 1024 * 1024)) /dev/urandom > "$large/part$i.bin"
done
sync

peak() {  # peak resident set of a command, in MB, from GNU time
  awk -F': ' '/Maximum resident set size/ {printf "%.1f", $2 / 1024}' "$1"
}
# run_pair NAME TREE [CACHE_KB]: two rounds of each, on a warm page cache.
run_pair() {
  local name=$1 tree=$2 cache=${3:-36864}
  local size
  size=$(du -sb "$tree" | cut -f1)
  echo "== $name: $(find "$tree" -type f | wc -l) files, $((size / 1000000)) MB, cache wish $cache KB"
  for round in 1 2; do
    rm -f "$scratch/q.iso" "$scratch/x.iso"
    echo "-- quillion, round $round"
    /usr/bin/time -v -o "$scratch/q.time" \
      "$build/bench/burn/burn_bench" "$tree" "$scratch/q.iso" iso "$cache" | sed 's/^/   /'
    echo "-- xorriso -as mkisofs -J, round $round"
    local start end bytes
    start=$(date +%s.%N)
    /usr/bin/time -v -o "$scratch/x.time" \
      xorriso -as mkisofs -quiet -J -o "$scratch/x.iso" "$tree" 2>/dev/null
    end=$(date +%s.%N)
    bytes=$(stat -c %s "$scratch/x.iso")
    awk -v s="$start" -v e="$end" -v b="$bytes" -v m="$(peak "$scratch/x.time")" \
      'BEGIN {printf "   image %.1f MB  total %.2f s  throughput %.0f MB/s  peak RSS %s MB\n", b / 1e6, e - s, b / 1e6 / (e - s), m}'
  done
}
run_pair "20,000 small files" "$small"
run_pair "1.5 GB of large files" "$large"
run_pair "1.5 GB of large files, smallest cache" "$large" 8192
