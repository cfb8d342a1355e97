#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# MP3 encoding at 128 and 192 kbit/s CBR, single-threaded, beside `lame --quiet -b N`, under
# each kernel dispatch (native: the vectorised kernels this processor runs; portable): prints
# the real-time factor of each encoder (median whole-process wall time from farm-bench, the two
# encoders run in turn on one pinned core) and the SNR of each decode (mpg123), aligned with
# the input by cross-correlation. The input is 5 minutes of real stereo music at 44.1 kHz:
# MUSIC=/path/to/music.wav, else the tracker module frozen-mainzik-2p.xm (Debian's
# fb-music-high) rendered and looped by ffmpeg; without either, a synthetic mix made by sox
# stands in, and its numbers say less about music.
#
#   bench/mp3enc/run.sh [BUILD_DIR]      (configured with -DQUILLION_BUILD_BENCH=ON, no sanitizers)
#   CPU=3 RUNS=5 to choose the core (from 2-7) and the number of timed runs.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-bench}
bench=$build/bench/mp3enc/mp3enc_bench
cpu=${CPU:-3}
runs=${RUNS:-5}
module=/usr/share/games/frozen-bubble/snd/frozen-mainzik-2p.xm
[ -x "$bench" ] || { echo "build $bench first (-DQUILLION_BUILD_BENCH=ON)"; exit 1; }
for tool in lame mpg123 sox ffmpeg farm-bench; do
  command -v "$tool" >/dev/null || { echo "$tool is missing"; exit 1; }
done
work=$(mktemp -d /tmp/quillion-mp3bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8 TZ=UTC

input=${MUSIC:-}
if [ -z "$input" ] && [ -r "$module" ]; then
  input=$work/music.wav
  ffmpeg -v error -stream_loop -1 -i "$module" -t 300 -ar 44100 -ac 2 -c:a pcm_s16le "$input"
elif [ -z "$input" ]; then
  input=$work/synthetic.wav
  echo "no MUSIC given and no $module: synthesising 5 minutes in $input"
  sox -n -r 44100 -c 2 -b 16 "$work/chords.wav" synth 300 pluck C3 pluck E3 pluck G4 pluck B4 \
    remix 1,3 2,4 tremolo 3 40 reverb 30 gain -8
  sox -n -r 44100 -c 2 -b 16 "$work/bass.wav" synth 300 sine 55 sine 82 tremolo 2 90 gain -14
  sox -n -r 44100 -c 2 -b 16 "$work/noise.wav" synth 300 pinknoise tremolo 8 100 gain -26
  sox -m "$work/chords.wav" "$work/bass.wav" "$work/noise.wav" -b 16 "$input" gain -n -3
fi
seconds=$(sox --i -D "$input")
printf 'input %s, %.1f s; core %s, %s runs each\n\n' "$input" "$seconds" "$cpu" "$runs"
printf '%-6s %-16s %10s %10s %10s\n' rate encoder "x realtime" "SNR dB" "time/lame"

# The median of one row ("A wall s" or "B wall s") of a farm-bench report.
median() { awk -v row="$1" '$0 ~ "^" row { print $(NF - 1) }' "$2"; }

snrOf() {
  mpg123 -q -w "$work/dec.wav" "$1"
  "$bench" snr "$input" "$work/dec.wav" | sed 's/.*snr //'
}

for rate in 128 192; do
  for kernels in native portable; do
    ours=$work/ours-$kernels-$rate.mp3
    lame=$work/lame$rate.mp3
    farm-bench -n "$runs" --pin "$cpu" --timeout 1200 \
      --vs "lame --quiet -b $rate $input $lame" \
      -- "$bench" encode "$input" "$ours" "${rate}000" "$kernels" >"$work/report" 2>&1
    a=$(median "A wall s" "$work/report")
    b=$(median "B wall s" "$work/report")
    ratio=$(median "A/B wall" "$work/report")
    printf '%-6s %-16s %10.1f %10s %10.3f\n' "${rate}k" "ours ($kernels)" \
      "$(echo "$seconds / $a" | bc -l)" "$(snrOf "$ours")" "$ratio"
    printf '%-6s %-16s %10.1f %10s\n' "${rate}k" "lame" "$(echo "$seconds / $b" | bc -l)" \
      "$(snrOf "$lame")"
  done
done
