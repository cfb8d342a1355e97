#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# MP3 encoding beside LAME, single-threaded, under each kernel dispatch (native: the vectorised
# kernels this processor runs; portable): at 128 and 192 kbit/s CBR beside `lame --quiet -b N`,
# and at our VBR quality 2 beside `lame --quiet -V 2`. Prints per row the real-time factor
# (median wall time of whole encoder processes, ours and LAME's run in turn on one pinned
# core), the mean bit rate of the file, the SNR and the SNR below 15 kHz of the mpg123 decode
# (aligned with the input by cross-correlation, which takes up each encoder's delay; the
# same low-pass on input and error), and the median of our time over LAME's, run pair by run
# pair. Then callgrind's instruction count of one short encode per dispatch.
# The input is 5 minutes of real stereo music at 44.1 kHz: MUSIC=/path/to/music.wav, else
# the tracker module frozen-mainzik-2p.xm (Debian's fb-music-high) rendered and looped by
# ffmpeg; without either, a synthetic mix made by sox stands in, and its numbers say less
# about music.
#
#   bench/mp3enc/run.sh [BUILD_DIR]      (configured with -DQUILLION_BUILD_BENCH=ON, no sanitizers)
#   CPU=3 RUNS=5 to choose the core (from 2-7) and the number of timed runs;
#   CALLGRIND=0 skips the instruction counts.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-bench}
bench=$build/bench/mp3enc/mp3enc_bench
snr=$build/bench/support/audio_snr
cpu=${CPU:-3}
runs=${RUNS:-5}
module=/usr/share/games/frozen-bubble/snd/frozen-mainzik-2p.xm
for exe in "$bench" "$snr"; do
  [ -x "$exe" ] || { echo "build $exe first (-DQUILLION_BUILD_BENCH=ON)"; exit 1; }
done
for tool in lame mpg123 sox ffmpeg taskset; do
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
printf '%-8s %-16s %10s %8s %8s %10s %10s\n' mode encoder "x realtime" kbit/s "SNR dB" \
  "<15k dB" "time/lame"

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Wall seconds of one run of a command on the chosen core, its output thrown away.
wall() {
  local start=$EPOCHREALTIME
  taskset -c "$cpu" "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  echo "$EPOCHREALTIME - $start" | bc -l
}

# Times A (our encoder) and B (lame) in turn, one warm-up each then A B A B ...; sets
# timeA, timeB (medians) and ratio (median of A/B over the pairs).
timePair() {
  local -a a b
  read -r -a a <<<"$1"
  read -r -a b <<<"$2"
  wall "${a[@]}" >/dev/null
  wall "${b[@]}" >/dev/null
  : >"$work/ta"
  : >"$work/tb"
  : >"$work/ratio"
  for ((i = 0; i < runs; ++i)); do
    local ta tb
    ta=$(wall "${a[@]}")
    tb=$(wall "${b[@]}")
    echo "$ta" >>"$work/ta"
    echo "$tb" >>"$work/tb"
    echo "$ta / $tb" | bc -l >>"$work/ratio"
  done
  timeA=$(median <"$work/ta")
  timeB=$(median <"$work/tb")
  ratio=$(median <"$work/ratio")
}

# "SNR SNR-below-15k" of a stream's mpg123 decode against the input; once per file name.
snrOf() {
  local memo=$work/snr-$(basename "$1")
  if [ ! -s "$memo" ]; then
    mpg123 -q -w "$work/dec.wav" "$1"
    "$snr" "$input" "$work/dec.wav" | awk '{ print $4, $6 }' >"$memo"
  fi
  cat "$memo"
}

kbps() { echo "$(stat -c %s "$1") * 8 / $seconds / 1000" | bc -l; }

row() {  # mode, encoder, seconds, file, [ratio]
  local snr
  read -r -a snr <<<"$(snrOf "$4")"
  printf '%-8s %-16s %10.1f %8.1f %8s %10s %10s\n' "$1" "$2" "$(echo "$seconds / $3" | bc -l)" \
    "$(kbps "$4")" "${snr[0]}" "${snr[1]}" "${5:-}"
}

for mode in 128 192 V2; do
  for kernels in native portable; do
    ours=$work/ours-$kernels-$mode.mp3
    lame=$work/lame-$mode.mp3
    if [ "$mode" = V2 ]; then
      timePair "$bench vbr $input $ours 2 $kernels" "lame --quiet -V 2 $input $lame"
    else
      timePair "$bench encode $input $ours ${mode}000 $kernels" \
        "lame --quiet -b $mode $input $lame"
    fi
    row "$mode" "ours ($kernels)" "$timeA" "$ours" "$(printf '%.3f' "$ratio")"
    row "$mode" lame "$timeB" "$lame"
  done
done

[ "${CALLGRIND:-1}" = 1 ] && command -v valgrind >/dev/null || exit 0
# Instructions of one short encode (10 s of the input) per dispatch.
sox "$input" "$work/short.wav" trim 0 10
printf '\ncallgrind, 10 s encode: instructions\n'
for mode in 128 V2; do
  for kernels in portable native; do
    if [ "$mode" = V2 ]; then job=(vbr "$work/short.wav" "$work/cg.mp3" 2 "$kernels")
    else job=(encode "$work/short.wav" "$work/cg.mp3" "${mode}000" "$kernels"); fi
    taskset -c "$cpu" valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" \
      "$bench" "${job[@]}" >/dev/null 2>&1
    printf '%-8s %-10s %14s\n' "$mode" "$kernels" "$(awk '/^summary:/ { print $2 }' "$work/cg.out")"
  done
done
