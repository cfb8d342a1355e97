#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the Ferrule benchmark (Release), makes a 5-minute stereo test WAV and runs it.
#   bench/ferrule/run-bench.sh [input.wav]
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build="$top/build-bench"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLION_BUILD_BENCH=ON \
  -DQUILLION_BUILD_TESTS=OFF -DQUILLION_BUILD_GUI=OFF >/dev/null
cmake --build "$build" --target ferrule_bench -j "${JOBS:-4}" >/dev/null
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
input=${1:-}
if [[ -z "$input" ]]; then
  # A music-like mix: a chord with vibrato and a beating envelope, a bass line and bright
  # partials, different in each channel, over pink noise (little energy above 20 kHz, where
  # layer II at 224 kbit/s codes nothing, so the SNR measures the coding).
  input="$scratch/input.wav"
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
"$build/bench/ferrule/ferrule_bench" "$input" "$scratch"
