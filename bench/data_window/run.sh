#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The 20,000-file tree of bench/trees.sh dropped on a data window and burned to the ISO image
# writer through the window (data_window_bench), beside the engine's image route through the
# flat burn API of the same tree (burn_bench, Joliet) and `xorriso -as mkisofs -J -o`.
# Prints seconds (median of RUNS, warm page cache, each run pinned to core CPU): the window's
# drop-to-shown and its total (drop, sizing, burn; without its deliberate one-second wait),
# the engine route's total, xorriso's whole run, and the ratios. Targets: the window no
# slower than xorriso and within 10 % of the engine's image route.
# Before timing, all three images are read back with `isoinfo -J -f` and must list exactly
# the source tree.
#
#   bench/data_window/run.sh [BUILD_DIR]
#     BUILD_DIR configured with -DQUILLION_BUILD_BENCH=ON -DQUILLION_UNITY=OFF and the GUI,
#     with data_window_bench and burn_bench built.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-bench}
window=$build/bench/data_window/data_window_bench
engine=$build/bench/burn/burn_bench
runs=${RUNS:-5}
cpu=${CPU:-5}
for exe in "$window" "$engine"; do
  [ -x "$exe" ] || { echo "build $exe first (-DQUILLION_BUILD_BENCH=ON)"; exit 1; }
done
for tool in xorriso isoinfo taskset; do
  command -v "$tool" >/dev/null || { echo "$tool is missing"; exit 1; }
done

TREES=small
. "$top/bench/trees.sh"
export QT_QPA_PLATFORM=offscreen

src=$work/small
files=$(find "$src" -type f | wc -l)
bytes=$(du -sb "$src" | cut -f1)
catfiles "$src"   # warm the page cache

pinned() { taskset -c "$cpu" "$@"; }
median() { sort -g | awk '{ v[NR] = $1 } END { printf "%.3f", v[int((NR + 1) / 2)] }'; }
# The value after the word $1 in the line $2.
field() { awk -v k="$1" '{ for (i = 1; i < NF; i++) if ($i == k) { print $(i + 1); exit } }' <<<"$2"; }

# The correctness guard: each image lists the source tree, every folder and file, no more.
(cd "$src" && find . -mindepth 1 | sed 's|^\.||' | sort) >"$work/source.list"
pinned "$window" "$src" "$images/window.iso" >/dev/null 2>&1
pinned "$engine" "$src" "$images/engine.iso" iso >/dev/null
pinned xorriso -as mkisofs -quiet -J -o "$images/xorriso.iso" "$src" >/dev/null 2>&1
for name in window engine xorriso; do
  isoinfo -J -f -i "$images/$name.iso" | sort >"$work/$name.list"
  if ! cmp -s "$work/source.list" "$work/$name.list"; then
    echo "the $name image does not list the source tree:"
    diff "$work/source.list" "$work/$name.list" | head -20
    exit 1
  fi
done
echo "isoinfo -J -f: all three images list the $files files and their folders"

drop=() wtotal=() wsizing=() wburn=() wwall=() etotal=() ewall=() xwall=()
for _ in $(seq "$runs"); do
  rm -f "$images/window.iso" "$images/engine.iso" "$images/xorriso.iso"
  t0=$(date +%s.%N)
  line=$(pinned "$window" "$src" "$images/window.iso" 2>/dev/null)
  t1=$(date +%s.%N)
  [ "$(field files "$line")" = "$files" ] || { echo "window run failed: $line"; exit 1; }
  drop+=("$(field drop-shown "$line")") wsizing+=("$(field sizing "$line")")
  wburn+=("$(field burn "$line")") wtotal+=("$(field total "$line")")
  wwall+=("$(awk "BEGIN { print $t1 - $t0 }")")

  t0=$(date +%s.%N)
  line=$(pinned "$engine" "$src" "$images/engine.iso" iso | tr '\n' ' ')
  t1=$(date +%s.%N)
  [[ $line == *" ok"* ]] || { echo "engine run failed: $line"; exit 1; }
  etotal+=("$(field total "$line")")
  ewall+=("$(awk "BEGIN { print $t1 - $t0 }")")

  t0=$(date +%s.%N)
  pinned xorriso -as mkisofs -quiet -J -o "$images/xorriso.iso" "$src" >/dev/null 2>&1
  t1=$(date +%s.%N)
  xwall+=("$(awk "BEGIN { print $t1 - $t0 }")")
done
m() { printf "%s\n" "$@" | median; }
d=$(m "${drop[@]}") ws=$(m "${wsizing[@]}") wb=$(m "${wburn[@]}") wt=$(m "${wtotal[@]}")
ww=$(m "${wwall[@]}") et=$(m "${etotal[@]}") ew=$(m "${ewall[@]}") xw=$(m "${xwall[@]}")

echo
echo "== $files files, $bytes bytes, image $(stat -c %s "$images/window.iso") bytes; median of $runs on core $cpu"
echo "window drop-to-shown                 ${d}s"
echo "window sizing (Burn to job kept)     ${ws}s"
echo "window burn (job run to result)      ${wb}s"
echo "window total (drop, sizing, burn)    ${wt}s   whole process ${ww}s"
echo "engine image route (flat API) total  ${et}s   whole process ${ew}s"
echo "xorriso -as mkisofs -J -o            ${xw}s   (whole process)"
echo "ratio window total / engine total    $(ratio "$wt" "$et")   (target <= 1.10)"
echo "ratio window process / xorriso       $(ratio "$ww" "$xw")   (target <= 1.00)"
