#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# ISO9660 + Joliet production of two generated trees (20,000 small files; 1.5 GB in large
# files) by our producer, `xorriso -as mkisofs -J` and `genisoimage -J`, and `cat` of the
# same files to /dev/null. Prints seconds (median of RUNS, warm page cache), the ratios to
# our producer and peak memory. Trees live under a temporary folder in /tmp, images in a
# temporary folder in /dev/shm when it has room (so that disc write-back, which varies by
# seconds from run to run, does not drown the producers' own time); both are removed
# afterwards.
#
#   bench/iso9660/run.sh [BUILD_DIR]      (configured with -DQUILLION_BUILD_BENCH=ON -DQUILLION_UNITY=OFF)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-bench}
bench=$build/bench/iso9660/iso9660_bench
runs=${RUNS:-5}
[ -x "$bench" ] || { echo "build $bench first (-DQUILLION_BUILD_BENCH=ON)"; exit 1; }
for tool in xorriso genisoimage /usr/bin/time; do
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
  xorr=$(best xorriso -as mkisofs -quiet -J -o "$images/x.iso" "$src")
  geni=$(best genisoimage -quiet -J -o "$images/g.iso" "$src")
  catt=$(best catfiles "$src")
  echo
  echo "== $tree: $files files, $bytes bytes"
  echo "ours (layout + image to file)   ${ours}s   [$line]"
  echo "ours (image to /dev/null)       ${ours_null}s"
  echo "xorriso -as mkisofs -J          ${xorr}s   ratio peer/ours $(ratio "$xorr" "$ours")"
  echo "genisoimage -J                  ${geni}s   ratio peer/ours $(ratio "$geni" "$ours")"
  echo "cat files > /dev/null           ${catt}s   ratio ours(/dev/null)/cat $(ratio "$ours_null" "$catt")"
  echo "peak RSS KB: ours $(peak "$bench" "$src" /dev/null)  xorriso $(peak xorriso -as mkisofs -quiet -J -o "$images/x.iso" "$src")  genisoimage $(peak genisoimage -quiet -J -o "$images/g.iso" "$src")"
  rm -f "$img" "$images/x.iso" "$images/g.iso"
done
