#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# HFS Plus (2) and hybrid (513: HFS + Joliet, 514: HFS Plus + Joliet) production of the two
# generated trees (20,000 small files; 1.5 GB in large files) by our producers, beside
# `genisoimage -hfs -J` (the peer for the HFS hybrid; Debian 12 has no HFS Plus creator)
# and `cat` of the same files to /dev/null. Prints seconds (median of RUNS, warm page
# cache), the ratios and peak memory. Targets: no slower than the peer, within 10% of cat
# when writing to /dev/null, memory independent of the data size.
#
#   bench/hfs/run.sh [BUILD_DIR]      (configured with -DQUILLION_BUILD_BENCH=ON)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-bench}
bench=$build/bench/hfs/hfs_bench
runs=${RUNS:-5}
[ -x "$bench" ] || { echo "build $bench first (-DQUILLION_BUILD_BENCH=ON)"; exit 1; }
for tool in genisoimage /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is missing"; exit 1; }
done

work=$(mktemp -d /tmp/quillion-bench-XXXXXX)
images=$work
if [ "$(df --output=avail -k /dev/shm 2>/dev/null | tail -1)" -gt 5000000 ] 2>/dev/null; then
  images=$(mktemp -d /dev/shm/quillion-bench-XXXXXX)
fi
trap 'rm -rf "$work" "$images"' EXIT
export LC_ALL=C.UTF-8 TZ=UTC
echo "generating trees in $work"
python3 "$top/bench/support/make_trees.py" "$work"

best() {
  local times=()
  for _ in $(seq "$runs"); do
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s.%N)
    times+=("$(awk "BEGIN { print $t1 - $t0 }")")
  done
  printf "%s\n" "${times[@]}" | sort -g | awk '{ v[NR] = $1 } END { printf "%.3f", v[int((NR + 1) / 2)] }'
}
ratio() { awk "BEGIN { printf \"%.2f\", $1 / $2 }"; }
peak() { /usr/bin/time -f "%M" "$@" 2>&1 >/dev/null | tail -1; }
catfiles() { find "$1" -type f -print0 | xargs -0 cat > /dev/null; }

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
  for code in 2 513 514; do
    ours=$(best "$bench" "$code" "$src" "$images/ours.img")
    ours_null=$(best "$bench" "$code" "$src" /dev/null)
    echo "ours $code (image to file)       ${ours}s   ratio peer/ours $(ratio "$geni" "$ours")   [$("$bench" "$code" "$src" /dev/null)]"
    echo "ours $code (image to /dev/null)  ${ours_null}s   ratio ours/cat $(ratio "$ours_null" "$catt")"
  done
  rm -f "$images/ours.img" "$images/g.iso"
done
