// SPDX-License-Identifier: GPL-2.0-or-later
// The jobs of run.sh:
//   mp3enc_bench encode IN.wav OUT.mp3 BITRATE [portable|native]
//       constant bit rate through the WAV driver, on this thread; prints the seconds
//   mp3enc_bench vbr IN.wav OUT.mp3 QUALITY [portable|native]
//       variable bit rate (quality 1 best .. 5) through the handle, the VBRI header frame in
//       front; prints the seconds
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "mp3enc/encode_sample.h"
#include "mp3enc/kernels.h"
#include "mp3enc/velmora_enc.h"
#include "mp3enc/wav_reader.h"

namespace {

// Variable bit rate through the handle, as a caller of the library does it: the file read in
// blocks, each block encoded as it comes, and at the end the VBRI header frame written in
// front of the frames.
int encodeVbr(const char* in, const char* out, int quality) {
  using namespace quillion::mp3enc;
  std::ifstream wav(in, std::ios::binary);
  std::vector<std::uint8_t> head(kWavHeaderWindow);
  wav.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  WavInfo info;
  if (parseWavHeader(head.data(), static_cast<std::size_t>(wav.gcount()), &info) != WavStatus::Ok) {
    std::fprintf(stderr, "cannot read %s as 16-bit WAV\n", in);
    return 1;
  }
  wav.clear();
  wav.seekg(info.dataOffset);
  VelmoraEnc* h = nullptr;
  int block = 0;
  if (TESK_VelmoraEnc_Open(&h, info.sampleRate, 0, info.channels, 0, quality) != kEncOk ||
      TESK_VelmoraEnc_Init(h, &block) != kEncOk) {
    std::fprintf(stderr, "the encoder refused quality %d\n", quality);
    TESK_VelmoraEnc_Free(h);
    return 1;
  }
  std::vector<std::uint8_t> frames;
  constexpr std::size_t kBlock = 4096;
  std::vector<std::int16_t> pcm(kBlock);
  std::vector<float> samples(kBlock);
  std::vector<std::uint8_t> buffer(1 << 16);
  std::size_t have = 0, at = 0;
  bool ok = true;
  for (;;) {
    if (at == have) {  // the block is used up: the next one from the file
      wav.read(reinterpret_cast<char*>(pcm.data()), kBlock * 2);
      have = static_cast<std::size_t>(wav.gcount()) / 2;
      at = 0;
      for (std::size_t i = 0; i < have; ++i) samples[i] = pcm[i] / 32768.0f;
    }
    int count = static_cast<int>(have - at);
    const int given = count;
    int wanted = 0, produced = 0;
    if (TESK_VelmoraEnc_EncodeFrame(h, samples.data() + at, &count, &wanted,
                                    static_cast<int>(buffer.size()), buffer.data(),
                                    &produced) != kEncOk) {
      ok = false;
      break;
    }
    at += static_cast<std::size_t>(given - count);
    frames.insert(frames.end(), buffer.begin(), buffer.begin() + produced);
    if (given == 0 && produced == 0) break;
  }
  std::vector<std::uint8_t> header(8192);
  int length = 0;
  ok = ok && TESK_VelmoraEnc_GetVBRIndexTable(h, header.data(), static_cast<int>(header.size()),
                                              &length) == kEncOk;
  TESK_VelmoraEnc_Free(h);
  if (!ok) {
    std::fprintf(stderr, "encoding failed\n");
    return 1;
  }
  std::ofstream file(out, std::ios::binary);
  file.write(reinterpret_cast<const char*>(header.data()), length);
  file.write(reinterpret_cast<const char*>(frames.data()),
             static_cast<std::streamsize>(frames.size()));
  file.close();
  return file ? 0 : 1;
}

// "portable" runs the whole encode on the portable kernels, "native" on what this processor
// supports.
bool chooseKernels(const char* name) {
  if (std::strcmp(name, "portable") == 0) {
    quillion::mp3enc::forcePortableKernelsForTesting(true);
    return true;
  }
  return std::strcmp(name, "native") == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* job = argc > 1 ? argv[1] : "";
  const bool encode = std::strcmp(job, "encode") == 0, vbr = std::strcmp(job, "vbr") == 0;
  if ((argc == 5 || argc == 6) && (encode || vbr)) {
    if (argc == 6 && !chooseKernels(argv[5])) {
      std::fprintf(stderr, "kernels are portable or native\n");
      return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const int result = vbr ? encodeVbr(argv[2], argv[3], std::atoi(argv[4]))
                           : quillion::mp3enc::encode_to_mp3(argv[2], argv[3], std::atoi(argv[4]),
                                                             0, nullptr, 0, nullptr, nullptr);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::fprintf(stderr, "%.3f\n", took.count());
    return result;
  }
  std::fprintf(stderr,
               "usage: %s encode IN.wav OUT.mp3 BITRATE [portable|native]\n"
               "       %s vbr IN.wav OUT.mp3 QUALITY [portable|native]\n",
               argv[0], argv[0]);
  return 2;
}
