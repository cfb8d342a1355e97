#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The cost of the build itself: a clean clone of HEAD built and tested as CI does it
# (.ci/run), pinned to two cores with ccache off, then the Release configuration with tests,
# which must build without a warning. Prints the stages' times and the lines of code.
#   bench/build-time.sh [CORES] [REV]   CORES defaults to 0,1 (taskset list), REV to HEAD
# With QUILLION_BUILD_TIME_LOGS=DIR, the CI log and each build's .ninja_log (every compile's
# time) are kept in DIR.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cores=${1:-0,1}
rev=${2:-HEAD}
work=$(mktemp -d /tmp/quillion-build-time-XXXXXX)
keep_logs() {
  local dir=${QUILLION_BUILD_TIME_LOGS:-}
  if [ -n "$dir" ]; then
    mkdir -p "$dir"
    cp "$work/ci.log" "$dir/" 2>/dev/null || true
    for build in build-test build-fuzz build-tsan build-release; do
      cp "$work/clone/$build/.ninja_log" "$dir/$build.ninja_log" 2>/dev/null || true
    done
  fi
  rm -rf "$work"
}
trap keep_logs EXIT

git clone -q "$top" "$work/clone"
cd "$work/clone"
git checkout -q "$(git -C "$top" rev-parse "$rev")"
export CCACHE_DISABLE=1

count_lines() {
  find "$@" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -print0 2>/dev/null |
    xargs -0 cat 2>/dev/null | wc -l
}
echo "commit: $(git rev-parse --short HEAD)"
echo "lines of product: $(count_lines Engine platform libs GUI)"
echo "lines of tests: $(count_lines tests)"
echo "cores: $cores"

start=$SECONDS
taskset -c "$cores" bash .ci/run >"$work/ci.log" 2>&1 || { tail -n 40 "$work/ci.log"; echo "CI run failed"; exit 1; }
grep -E '^stage ' "$work/ci.log"
sed -n '/ shards; ten slowest:$/,/ skipped/p' "$work/ci.log"
echo "stage ci-total: $((SECONDS - start)) s"

start=$SECONDS
taskset -c "$cores" cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DQUILLION_BUILD_TESTS=ON >"$work/release.log" 2>&1
taskset -c "$cores" cmake --build build-release >>"$work/release.log" 2>&1 ||
  { grep -E 'error|warning' "$work/release.log" | head -n 40; echo "Release build failed"; exit 1; }
echo "stage release-build: $((SECONDS - start)) s"
