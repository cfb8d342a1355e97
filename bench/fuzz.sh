#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# A long fuzzing session by hand: every target (or the ones named) for the chosen time each,
# 600 seconds unless told.
#
#   bench/fuzz.sh [seconds per target] [target ...]
#
# The grown corpora stay in build-fuzz/findings/<name>/corpus/; inputs worth keeping go back
# into the checked-in corpus with libFuzzer's merge, for example
#   build-fuzz/fuzzers/fifo_fuzzer -merge=1 tests/fuzz/corpus/fifo build-fuzz/findings/fifo/corpus
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
[ $# -gt 0 ] && shift
exec "$top/scripts/fuzz" "$seconds" "$@"
