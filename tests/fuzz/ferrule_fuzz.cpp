// SPDX-License-Identifier: GPL-2.0-or-later
// Ferrule's settings check, then encoding with whatever it passed: any settings the check
// accepts must make an encoder that takes PCM and finishes without a failure.
//
// Input: nine settings fields (small values mostly, raw 32-bit ones sometimes), the format
// type, the sample rate, the check options, then PCM.
#include <cstddef>
#include <cstdint>

#include "bufstream.h"
#include "ferrule.h"
#include "fuzz_support.h"

namespace {

using quillion::fuzz::check;

std::int32_t field(quillion::fuzz::Input& in) {
  const std::uint8_t b = in.u8();
  // The high bit asks for a raw value; otherwise a small one, most fields' whole range.
  return (b & 0x80) ? static_cast<std::int32_t>(in.u32()) : static_cast<std::int32_t>(b % 20) - 2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quillion::fuzz::Input in(data, size);
  mpeg_a_settings s{};
  s.audio_mode = field(in);
  s.audio_layer = field(in);
  s.psych_model = field(in);
  s.bitrate_code = field(in);
  s.emphasis = field(in);
  s.private_bit = field(in);
  s.crc = field(in);
  s.copyright = field(in);
  s.original = field(in);
  const std::int32_t formatType = field(in);
  static const std::int32_t rates[] = {32000, 44100, 48000, 22050, 0, -1};
  const std::uint8_t r = in.u8();
  const std::int32_t rate = r < 6 ? rates[r] : static_cast<std::int32_t>(in.u32());
  const std::int32_t options = in.u8() & 3;

  if (mpegOutAudioChkSettings(nullptr, &s, formatType, rate, options) != 0) return 0;
  // Generic-only checks leave the format's own rules out; encoding needs the generic ones.
  mpeg_a_encoder* encoder = mpegOutAudioNew(nullptr, &s, 0, 0, rate);
  check(encoder != nullptr, "settings the check passes make an encoder");
  bufstream* out = open_file_buf_write("/dev/null", 4096, nullptr);
  check(out != nullptr, "the output opens");
  check(mpegOutAudioInit(encoder, out) == 0, "the encoder takes the output");
  // At most a few frames of PCM, in two pieces so a frame is staged across calls.
  const auto pcm = in.bytes(4 * 1152 * 4);
  const std::size_t half = pcm.size() / 2;
  check(mpegOutAudioPutBytes(encoder, pcm.data(), static_cast<std::uint32_t>(half)) == 0,
        "PCM is taken");
  check(mpegOutAudioPutBytes(encoder, pcm.data() + half,
                             static_cast<std::uint32_t>(pcm.size() - half)) == 0,
        "PCM is taken");
  check(mpegOutAudioDone(encoder, 0) == 0, "encoding finishes");
  mpegOutAudioFree(encoder);
  check(close_file_buf(out, 0) == 0, "the output closes");
  return 0;
}
