#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# HFS (1), HFS Plus (2) and hybrid (513: HFS + Joliet, 514: HFS Plus + Joliet) production
# of the two generated trees (20,000 small files; 1.5 GB in large files) by our producers, beside
# `genisoimage -hfs -J` (the peer for the HFS hybrid; Debian 12 has no HFS Plus creator)
# and `cat` of the same files to /dev/null. Prints seconds (median of RUNS, warm page
# cache), the ratios and peak memory. Targets: no slower than the peer, within 10% of cat
# when writing to /dev/null, memory independent of the data size.
#
#   bench/hfs/run.sh [BUILD_DIR]      (configured with -DQUILLION_BUILD_BENCH=ON -DQUILLION_UNITY=OFF)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-bench}
bench=$build/bench/hfs/hfs_bench
runs=${RUNS:-5}
[ -x "$bench" ] || { echo "build $bench first (-DQUILLION_BUILD_BENCH=ON)"; exit 1; }
for tool in genisoimage /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is missing"; exit 1; }
done

. "$top/bench/trees.sh"

for tree in small large; do
  src=$work/$tree
  files=$(find "$src" -type f | wc -l)
  bytes=$(du -sb "$src" | cut -f1)
  catfiles "$src"   # warm the page cache
  catt=$(best catfiles "$src")
  geni=$(best genisoimage -quiet -hfs -J -o "$images/g.iso" "$src")
  echo
  echo "== $tree: $files files, $bytes bytes"
  echo "cat files > /dev/null           ${catt}s"
  echo "genisoimage -hfs -J             ${geni}s   peak RSS KB $(peak genisoimage -quiet -hfs -J -o "$images/g.iso" "$src")"
  for code in 1 2 513 514; do
    ours=$(best "$bench" "$code" "$src" "$images/ours.img")
    ours_null=$(best "$bench" "$code" "$src" /dev/null)
    echo "ours $code (image to file)       ${ours}s   ratio peer/ours $(ratio "$geni" "$ours")   [$("$bench" "$code" "$src" /dev/null)]"
    echo "ours $code (image to /dev/null)  ${ours_null}s   ratio ours/cat $(ratio "$ours_null" "$catt")"
  done
  rm -f "$images/ours.img" "$images/g.iso"
done
