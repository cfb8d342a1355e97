#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# MP3 encoding at 128 and 192 kbit/s CBR, single-threaded, beside `lame --quiet -b N`: prints
# the real-time factor of each encoder and the SNR of each decode (mpg123), aligned with the
# input by cross-correlation. The input should be 5 minutes of real stereo music at 44.1 kHz
# (MUSIC=/path/to/music.wav); without one, a synthetic mix of plucked chords, a bass line and
# noise bursts made by sox stands in, and its numbers say less about music.
#
#   bench/mp3enc/run.sh [BUILD_DIR]      (configured with -DQUILLION_BUILD_BENCH=ON, no sanitizers)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-bench}
bench=$build/bench/mp3enc/mp3enc_bench
[ -x "$bench" ] || { echo "build $bench first (-DQUILLION_BUILD_BENCH=ON)"; exit 1; }
for tool in lame mpg123 sox; do
  command -v "$tool" >/dev/null || { echo "$tool is missing"; exit 1; }
done
work=$(mktemp -d /tmp/quillion-mp3bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8 TZ=UTC

input=${MUSIC:-}
if [ -z "$input" ]; then
  input=$work/synthetic.wav
  echo "no MUSIC given: synthesising 5 minutes in $input"
  sox -n -r 44100 -c 2 -b 16 "$work/chords.wav" synth 300 pluck C3 pluck E3 pluck G4 pluck B4 \
    remix 1,3 2,4 tremolo 3 40 reverb 30 gain -8
  sox -n -r 44100 -c 2 -b 16 "$work/bass.wav" synth 300 sine 55 sine 82 tremolo 2 90 gain -14
  sox -n -r 44100 -c 2 -b 16 "$work/noise.wav" synth 300 pinknoise tremolo 8 100 gain -26
  sox -m "$work/chords.wav" "$work/bass.wav" "$work/noise.wav" -b 16 "$input" gain -n -3
fi
seconds=$(sox --i -D "$input")
printf 'input %s, %.1f s\n\n' "$input" "$seconds"
printf '%-8s %-10s %10s %10s\n' rate encoder "x realtime" "SNR dB"
for rate in 128 192; do
  ours=$("$bench" encode "$input" "$work/ours$rate.mp3" "${rate}000" 2>&1 >/dev/null | tail -1)
  start=$(date +%s.%N)
  lame --quiet -b "$rate" "$input" "$work/lame$rate.mp3"
  end=$(date +%s.%N)
  theirs=$(echo "$end - $start" | bc -l)
  for who in ours lame; do
    mpg123 -q -w "$work/$who$rate.wav" "$work/$who$rate.mp3"
    snr=$("$bench" snr "$input" "$work/$who$rate.wav" | sed 's/.*snr //')
    took=$([ "$who" = ours ] && echo "$ours" || echo "$theirs")
    printf '%-8s %-10s %10.1f %10s\n' "${rate}k" "$who" "$(echo "$seconds / $took" | bc -l)" "$snr"
  done
done
