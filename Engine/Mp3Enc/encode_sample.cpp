// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/encode_sample.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "mp3enc/velmora_enc.h"
#include "mp3enc/wav_reader.h"

namespace quillion::mp3enc {
namespace {

constexpr int kFloatSamples = 8192;
constexpr int kOutputBytes = 8192;
constexpr int kAncBytes = 1024;

struct FileClose {
  void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileClose>;

struct HandleFree {
  void operator()(VelmoraEnc* h) const noexcept { TESK_VelmoraEnc_Free(h); }
};
using Handle = std::unique_ptr<VelmoraEnc, HandleFree>;

void report(bool progressCallback, EncodeProgress progress, void* context, long bytes) {
  if (progressCallback && progress) progress(static_cast<int>(bytes), context);
}

// Opens the input and positions it at the first sample; false on any header problem.
bool openInput(const char* path, File* file, WavInfo* info) {
  file->reset(std::fopen(path, "rb"));
  if (!*file) return false;
  std::vector<std::uint8_t> header(kWavHeaderWindow);
  const std::size_t got = std::fread(header.data(), 1, header.size(), file->get());
  if (parseWavHeader(header.data(), got, info) != WavStatus::Ok) return false;
  return std::fseek(file->get(), static_cast<long>(info->dataOffset), SEEK_SET) == 0;
}

int16_t fromLittleEndian(const std::uint8_t* p) {
  return static_cast<int16_t>(p[0] | (p[1] << 8));
}

// The encoding proper; the output file is open, the caller removes it on failure.
bool encodeStream(std::FILE* in, const WavInfo& wav, std::FILE* out, std::int32_t bitrate,
                  std::int32_t ancBitrate, std::FILE* anc, int rateMode, EncodeProgress progress,
                  void* context) {
  VelmoraEnc* raw = nullptr;
  const int opened = TESK_VelmoraEnc_Open(&raw, wav.sampleRate, bitrate, wav.channels, rateMode, 0);
  Handle handle(raw);
  if (opened != kEncOk) {
    std::fputs(opened == kEncUnsupported
                   ? "this Velmora library only supports mono and stereo encoding\n"
                   : "error opening Velmora encoder\n",
               stderr);
    return false;
  }
  int next = 0;
  if ((anc && ancBitrate != 0 && TESK_VelmoraEnc_SetAncRate(handle.get(), ancBitrate) != kEncOk) ||
      TESK_VelmoraEnc_Init(handle.get(), &next) != kEncOk || next <= 0 || next > kFloatSamples) {
    // A block larger than the sample arrays is refused here rather than overrun them.
    std::fputs("error initializing Velmora encoder\n", stderr);
    return false;
  }
  // The converter's blocks vary by a few samples around the first one: the arrays hold
  // the largest block any call may ask for, and a larger one is an error, not an overrun.
  const int bufferSize = kFloatSamples;
  (void)TESK_VelmoraEnc_GetInfo(handle.get());  // the facts are not needed here
  const int maxAnc = TESK_VelmoraEnc_GetMaxAncDataSize(handle.get());

  std::vector<std::uint8_t> raw16(static_cast<std::size_t>(bufferSize) * 2);
  std::vector<float> samples(kFloatSamples);
  std::vector<std::uint8_t> output(kOutputBytes);
  std::vector<std::uint8_t> ancBuffer(kAncBytes);
  int pending = 0, lastRead = 0, ancPending = 0, ancRead = 0;
  std::uint32_t consumed = 0;
  for (;;) {
    if (pending == 0) {
      if (next > bufferSize || next < 0) {
        std::fputs("\nEncoding Error\n", stderr);
        return false;
      }
      if (wav.dataLength < consumed + 2u * static_cast<std::uint32_t>(next))
        next = static_cast<int>((wav.dataLength - consumed) / 2);
      lastRead = static_cast<int>(std::fread(raw16.data(), 2, static_cast<std::size_t>(next), in));
      report(true, progress, context, 2L * lastRead);
      for (int i = 0; i < lastRead; ++i)
        samples[static_cast<std::size_t>(i)] =
            static_cast<float>(fromLittleEndian(raw16.data() + 2 * i)) * (1.0f / 32768.0f);
      consumed += 2u * static_cast<std::uint32_t>(lastRead);
      pending = lastRead;
    }
    if (anc && ancPending == 0) {
      ancRead = static_cast<int>(
          std::fread(ancBuffer.data(), 1,
                     static_cast<std::size_t>(maxAnc < kAncBytes ? maxAnc : kAncBytes), anc));
      ancPending = ancRead;
    }
    if (ancBitrate != 0 && anc)
      (void)TESK_VelmoraEnc_FeedAncData(handle.get(), ancBuffer.data() + (ancRead - ancPending),
                                        &ancPending);
    int produced = 0;
    const int status =
        TESK_VelmoraEnc_EncodeFrame(handle.get(), samples.data() + (lastRead - pending), &pending,
                                    &next, kOutputBytes, output.data(), &produced);
    if (status != kEncOk) {
      std::fputs("\nEncoding Error\n", stderr);
      return false;
    }
    if (produced == 0 && lastRead == 0) {
      std::fputs("\n", stderr);
      std::fputs("Encoding successful\n", stdout);
      return true;
    }
    if (produced > 0 && std::fwrite(output.data(), 1, static_cast<std::size_t>(produced), out) !=
                            static_cast<std::size_t>(produced)) {
      std::fputs("\nEncoding Error\n", stderr);
      return false;
    }
  }
}

}  // namespace

int encode_to_mp3(const char* inputPath, const char* outputPath, std::int32_t bitrate,
                  std::int32_t ancBitrate, const char* ancPath, int rateMode,
                  EncodeProgress progress, void* context) {
  EncoderLibraryInfo library;
  (void)TESK_VelmoraEnc_GetLibraryInfo(&library);
  File in;
  WavInfo wav;
  if (!inputPath || !openInput(inputPath, &in, &wav)) {
    std::fprintf(stderr, "error opening %s for reading\n", inputPath ? inputPath : "(null)");
    return kEncodeFailed;
  }
  report(true, progress, context, static_cast<long>(wav.dataOffset));
  File out(outputPath ? std::fopen(outputPath, "wb") : nullptr);
  if (!out) {
    std::fprintf(stderr, "error opening %s for writing\n", outputPath ? outputPath : "(null)");
    return kEncodeFailed;
  }
  File anc;
  bool ok = true;
  if (ancPath) {
    anc.reset(std::fopen(ancPath, "rb"));
    if (!anc) {
      std::fprintf(stderr, "error opening %s for reading failed!n", ancPath);
      ok = false;
    }
  }
  if (ok)
    ok = encodeStream(in.get(), wav, out.get(), bitrate, ancBitrate, anc.get(), rateMode, progress,
                      context);
  if (std::fclose(out.release()) != 0) ok = false;
  if (!ok) {
    // A partial stream must not pass for a finished one.
    std::remove(outputPath);
    return kEncodeFailed;
  }
  return kEncodeSucceeded;
}

}  // namespace quillion::mp3enc
