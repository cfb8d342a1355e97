// SPDX-License-Identifier: GPL-2.0-or-later
// An audio decoder object: coded bytes in, 16-bit samples out into the area the caller set.
// Each feed stops after the frame that completed, whose samples are written at once (and the
// rest of them into the next area when this one is full).
#pragma once

#include <cstdint>
#include <vector>

#include "audio_output.h"
#include "codec_stream.h"
#include "decoder_object.h"

namespace quillion::decoder {

// What the priming header says about the stream.
struct AudioStart {
  AVCodecID codec = AV_CODEC_ID_NONE;
  bool byteSwapped = false;  // 16-bit words arrive with their bytes exchanged
};

// One kind of audio stream: what recognises its first frame header in the priming bytes
// (NONE when it is not one), and the length a frame's header gives the frame (0: no header).
struct AudioFormat {
  AudioStart (*probe)(const std::uint8_t* data, std::uint32_t size);
  std::uint32_t (*frameLength)(const std::uint8_t* frame, std::uint32_t size);
};

class AudioDecoder final : public DecoderObject {
 public:
  explicit AudioDecoder(const AudioFormat& format) : format_(format) {}

 private:
  std::uint32_t feed(const std::uint8_t* data, std::uint32_t size) override;
  std::int32_t control(std::uint32_t offset, std::uint32_t id, void* data,
                       std::uint32_t size) override;
  bool takeHeader(const std::uint8_t* data, std::uint32_t size) override;
  bool readyToDecode() override;
  void reset() override;

  bool ensureOpen();
  std::uint32_t push(const std::uint8_t* data, std::uint32_t size);
  std::uint32_t pushSwapped(const std::uint8_t* data, std::uint32_t size);

  AudioFormat format_;
  AudioStart start_{};
  bool openFailed_ = false;
  CodecStream stream_;
  SampleWriter samples_;
  decoder_audio_area area_{};
  std::uint32_t written_ = 0;
  std::vector<std::uint8_t> swapped_;
  bool oddHeld_ = false;
  std::uint8_t odd_ = 0;
};

}  // namespace quillion::decoder
