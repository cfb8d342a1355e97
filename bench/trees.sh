# SPDX-License-Identifier: GPL-2.0-or-later
# Shared by the producer benchmarks' run.sh scripts (sourced): the temporary folders, the
# two generated trees (20,000 small files; 1.5 GB in large files; TREES names the ones to
# make, both when unset) and the timing helpers.
# Sets $work (trees) and $images (outputs); both are removed when the script exits.
work=$(mktemp -d /tmp/quillion-bench-XXXXXX)
images=$work
if [ "$(df --output=avail -k /dev/shm 2>/dev/null | tail -1)" -gt 5000000 ] 2>/dev/null; then
  images=$(mktemp -d /dev/shm/quillion-bench-XXXXXX)
fi
trap 'rm -rf "$work" "$images"' EXIT
echo "images in $images"
export LC_ALL=C.UTF-8 TZ=UTC

echo "generating trees in $work"
# shellcheck disable=SC2086 # TREES is a list of words
python3 "$(dirname "${BASH_SOURCE[0]}")/support/make_trees.py" "$work" ${TREES:-}

# Median wall time of $runs runs of a command, in seconds.
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

# Peak resident memory in KB of one run.
peak() {
  /usr/bin/time -f "%M" "$@" 2>&1 >/dev/null | tail -1
}

catfiles() { find "$1" -type f -print0 | xargs -0 cat > /dev/null; }

