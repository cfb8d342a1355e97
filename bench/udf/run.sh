#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# UDF bridge production (UDF 1.02 with its ISO9660 stub) of two generated trees (20,000 small files; 1.5 GB in large
# files) by our producer and `genisoimage -udf` (UDF with a full ISO9660 tree), and `cat` of the
# same files to /dev/null. Prints seconds (median of RUNS, warm page cache), the ratios to
# our producer and peak memory. Trees live under a temporary folder in /tmp, images in a
# temporary folder in /dev/shm when it has room (so that disc write-back, which varies by
# seconds from run to run, does not drown the producers' own time); both are removed
# afterwards.
#
#   bench/udf/run.sh [BUILD_DIR]      (configured with -DQUILLION_BUILD_BENCH=ON -DQUILLION_UNITY=OFF)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-bench}
bench=$build/bench/udf/udf_bench
runs=${RUNS:-5}
[ -x "$bench" ] || { echo "build $bench first (-DQUILLION_BUILD_BENCH=ON)"; exit 1; }
for tool in genisoimage /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is missing"; exit 1; }
done

. "$top/bench/trees.sh"

for tree in small large; do
  src=$work/$tree
  img=$images/$tree.iso
  files=$(find "$src" -type f | wc -l)
  bytes=$(du -sb "$src" | cut -f1)
  catfiles "$src"   # warm the page cache
  ours=$(best "$bench" "$src" "$img")
  ours_null=$(best "$bench" "$src" /dev/null)
  line=$("$bench" "$src" "$img")
  geni=$(best genisoimage -quiet -udf -o "$images/g.iso" "$src")
  catt=$(best catfiles "$src")
  echo
  echo "== $tree: $files files, $bytes bytes"
  echo "ours (layout + image to file)   ${ours}s   [$line]"
  echo "ours (image to /dev/null)       ${ours_null}s"
  echo "genisoimage -udf                ${geni}s   ratio peer/ours $(ratio "$geni" "$ours")"
  echo "cat files > /dev/null           ${catt}s   ratio ours(/dev/null)/cat $(ratio "$ours_null" "$catt")"
  echo "peak RSS KB: ours $(peak "$bench" "$src" /dev/null)  genisoimage $(peak genisoimage -quiet -udf -o "$images/g.iso" "$src")"
  rm -f "$img" "$images/g.iso"
done
