// SPDX-License-Identifier: GPL-2.0-or-later
// The readers of the chosen audio stream's headers. At open the first frame is found and
// checked against the frame that follows it, and its facts (format, sample rate, channels,
// frame sizes, bit rate, the format's own header fields and the header a decoder is primed
// with) are written into the record. Later, the matchers accept only headers that agree with
// that first one.
#pragma once

#include <cstdint>

#include "brindle.h"

struct stream_parser;

namespace quillion::brindle {

// Audio format codes of the record.
enum audio_format_code : std::uint32_t {
  kAudioLayer1 = 1,
  kAudioLayer2 = 2,
  kAudioLayer3 = 3,
  kAudioLpcm = 4,
  kAudioAc3 = 5,
  kAudioAacMpeg2 = 6,
  kAudioAacMpeg4 = 7,
  kAudioAes3Smpte302m = 10,
  kAudioAes3MxfElement = 11,
  kAudioAes3MxfPcm = 12
};

// Finds and reads the first audio frame of the audio parser, which stands at the start of the
// audio data; 0, or 1 when no usable header was found (with a message for a refused one).
int Parse_Audio_Header(mpeg_in_info* session);

// 0 when `word` (an MPEG audio or ADTS header) agrees with the first header, taking its
// per-frame fields; 1 when refused.
int Match_Mpeg_Audio_Header(mpeg_in_info* session, std::uint32_t word);

// 0 when the 32 bits after an AC-3 sync word and crc1 agree with the first frame; 1 when not.
int Match_Ac3_Header(mpeg_in_info* session, std::uint32_t word);

// Find the next header that agrees with the first one at or after the parser's position and
// read it: 0 found, 1 on the parser's error flag, 2 at the end of the stream. The header's
// positions are kept and, in a system stream, its time stamp becomes the audio time.
int Next_Mpeg_Audio_Header(mpeg_in_info* session);
int Next_Ac3_Header(mpeg_in_info* session);

// Pieces shared by the readers of the different formats.
namespace audio_detail {

bool parserStopped(const stream_parser* parser);
// Moves the audio parser onto the byte at `position` (reading from the search start); false
// when the stream stops first.
bool seekAudioTo(mpeg_in_info* session, std::uint64_t position);
// Skips `count` bytes; false when the stream stops first.
bool skipAudioBytes(mpeg_in_info* session, std::uint64_t count);
// The 20-byte little-endian PCM wave format record a PCM decoder is primed with.
void writeWaveFormat(mpeg_in_info* session);

}  // namespace audio_detail

int Parse_Ac3_Header(mpeg_in_info* session);
int Parse_Lpcm_Header(mpeg_in_info* session);
int Parse_Aes3_Header(mpeg_in_info* session);

// AC-3 tables: frame size in bytes by (fscod, frmsizecod), bit rate in kbit/s by frmsizecod.
std::uint32_t ac3_frame_bytes(std::uint32_t fscod, std::uint32_t frmsizecod);
std::uint32_t ac3_bit_rate(std::uint32_t frmsizecod);

}  // namespace quillion::brindle
