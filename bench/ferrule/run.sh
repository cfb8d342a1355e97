#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Ferrule (layer II, stereo) beside twolame (`twolame -b N -m s`) and ffmpeg's mp2 encoder
# (`ffmpeg -c:a mp2 -b:a Nk`) at 224 kbit/s and 128 kbit/s. Prints per row the real-time factor
# (median wall time of whole encoder processes, run in turn on one pinned core), the SNR and
# the SNR below 15 kHz of the `mpg123 -w` decode (aligned with the input by cross-correlation,
# which takes up each encoder's delay), and for Ferrule the medians of its time over each
# peer's, run by run. Every stream is checked first by ffmpeg with CRC checks and by
# `mpg123 -t`. Then callgrind's instruction count of one short encode per model.
# The input is 5 minutes of stereo at 44.1 kHz: MUSIC=/path/to/music.wav, else a music-like
# mix made by ffmpeg (a chord with vibrato and a beating envelope, a bass line and bright
# partials, different in each channel, over pink noise).
#
#   bench/ferrule/run.sh [BUILD_DIR]      (configured with -DQUILLION_BUILD_BENCH=ON, Release)
#   CPU=3 RUNS=5 to choose the core (from 2-7) and the number of timed runs;
#   RATES="224 128" the bit rates; CALLGRIND=0 skips the instruction counts.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build-bench}
bench=$build/bench/ferrule/ferrule_bench
snr=$build/bench/support/audio_snr
cpu=${CPU:-3}
runs=${RUNS:-5}
rates=${RATES:-224 128}
for exe in "$bench" "$snr"; do
  [ -x "$exe" ] || { echo "build $exe first (-DQUILLION_BUILD_BENCH=ON)"; exit 1; }
done
for tool in twolame mpg123 ffmpeg taskset bc; do
  command -v "$tool" >/dev/null || { echo "$tool is missing"; exit 1; }
done
work=$(mktemp -d /tmp/quillion-ferrulebench-XXXXXX)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8 TZ=UTC

input=${MUSIC:-}
if [ -z "$input" ]; then
  input=$work/input.wav
  tones="0.22*sin(2*PI*220*t+0.5*sin(2*PI*5*t))*(0.6+0.4*sin(2*PI*1.5*t))+0.14*sin(2*PI*277.2*t)\
+0.12*sin(2*PI*329.6*t)+0.1*sin(2*PI*(55+10*floor(mod(t,8)))*t)+0.04*sin(2*PI*1760*t)\
+0.03*sin(2*PI*5274*t)*(0.5+0.5*sin(2*PI*0.3*t))|\
0.2*sin(2*PI*220*t)+0.16*sin(2*PI*329.6*t)*(0.5+0.5*sin(2*PI*0.7*t))\
+0.1*sin(2*PI*(55+10*floor(mod(t,8)))*t)+0.06*sin(2*PI*880*t)+0.04*sin(2*PI*3520*t)"
  ffmpeg -nostdin -v error -y -filter_complex "aevalsrc=exprs='$tones':s=44100:d=300[a];\
anoisesrc=color=pink:amplitude=0.04:seed=1:r=44100:d=300[n1];\
anoisesrc=color=pink:amplitude=0.04:seed=2:r=44100:d=300[n2];\
[n1][n2]amerge=inputs=2[n];[a][n]amix=inputs=2:normalize=0" -c:a pcm_s16le "$input"
fi
seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$input")
printf 'input %s, %.1f s; core %s, %s runs each\n\n' "$input" "$seconds" "$cpu" "$runs"
printf '%-6s %-18s %10s %8s %8s %12s %12s\n' kbit/s encoder "x realtime" "SNR dB" "<15k dB" \
  "time/ffmpeg" "time/twolame"

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Wall seconds of one run of a command on the chosen core, its output thrown away.
wall() {
  local start=$EPOCHREALTIME
  taskset -c "$cpu" "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  echo "$EPOCHREALTIME - $start" | bc -l
}

# The decoders' verdict on a stream: silent when both are content.
checkStream() {
  local complaints
  complaints=$(ffmpeg -nostdin -v error -err_detect crccheck+explode -i "$1" -f null - 2>&1 || echo failed)
  complaints+=$(mpg123 -q -t "$1" 2>&1 || echo failed)
  [ -z "$complaints" ] || echo "$(basename "$1"): $complaints" >&2
}

# "SNR SNR-below-15k" of a stream's mpg123 decode against the input.
snrOf() {
  mpg123 -q -w "$work/dec.wav" "$1"
  "$snr" "$input" "$work/dec.wav" | awk '{ print $4, $6 }'
}

row() {  # rate, encoder, seconds, file, [ratio to ffmpeg, ratio to twolame]
  local -a q
  read -r -a q <<<"$(snrOf "$4")"
  printf '%-6s %-18s %10.1f %8s %8s %12s %12s\n' "$1" "$2" "$(echo "$seconds / $3" | bc -l)" \
    "${q[0]}" "${q[1]}" "${5:-}" "${6:-}"
}

for rate in $rates; do
  ours=(ours2 "$bench" "$input" "$work/ours2-$rate.mp2" "$rate" 2)
  model1=(ours1 "$bench" "$input" "$work/ours1-$rate.mp2" "$rate" 1)
  ff=(ffmpeg ffmpeg -nostdin -v error -y -i "$input" -c:a mp2 -b:a "${rate}k" "$work/ffmpeg-$rate.mp2")
  two=(twolame twolame --quiet -b "$rate" -m s "$input" "$work/twolame-$rate.mp2")
  for job in ours model1 ff two; do  # one warm-up run each
    declare -n cmd=$job
    wall "${cmd[@]:1}" >/dev/null
  done
  for job in ours model1 ff two; do : >"$work/t-$job"; done
  : >"$work/r-ff"
  : >"$work/r-two"
  : >"$work/r1-ff"
  : >"$work/r1-two"
  for ((i = 0; i < runs; ++i)); do
    declare -A t=()
    for job in ours model1 ff two; do
      declare -n cmd=$job
      t[$job]=$(wall "${cmd[@]:1}")
      echo "${t[$job]}" >>"$work/t-$job"
    done
    echo "${t[ours]} / ${t[ff]}" | bc -l >>"$work/r-ff"
    echo "${t[ours]} / ${t[two]}" | bc -l >>"$work/r-two"
    echo "${t[model1]} / ${t[ff]}" | bc -l >>"$work/r1-ff"
    echo "${t[model1]} / ${t[two]}" | bc -l >>"$work/r1-two"
  done
  for f in "$work"/*-"$rate".mp2; do checkStream "$f"; done
  row "$rate" "Ferrule, model 2" "$(median <"$work/t-ours")" "$work/ours2-$rate.mp2" \
    "$(median <"$work/r-ff" | xargs printf '%.3f')" "$(median <"$work/r-two" | xargs printf '%.3f')"
  row "$rate" "Ferrule, model 1" "$(median <"$work/t-model1")" "$work/ours1-$rate.mp2" \
    "$(median <"$work/r1-ff" | xargs printf '%.3f')" "$(median <"$work/r1-two" | xargs printf '%.3f')"
  row "$rate" "ffmpeg -c:a mp2" "$(median <"$work/t-ff")" "$work/ffmpeg-$rate.mp2"
  row "$rate" "twolame" "$(median <"$work/t-two")" "$work/twolame-$rate.mp2"
done

[ "${CALLGRIND:-1}" = 1 ] && command -v valgrind >/dev/null || exit 0
# Instructions of one short encode (10 s of the input) per model.
ffmpeg -nostdin -v error -y -i "$input" -t 10 -c:a pcm_s16le "$work/short.wav"
printf '\ncallgrind, 10 s encode at 224 kbit/s: instructions\n'
for model in 2 1; do
  taskset -c "$cpu" valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" \
    "$bench" "$work/short.wav" "$work/cg.mp2" 224 "$model" >/dev/null 2>&1
  printf 'model %s %14s\n' "$model" "$(awk '/^summary:/ { print $2 }' "$work/cg.out")"
done
