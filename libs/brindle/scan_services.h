// SPDX-License-Identifier: GPL-2.0-or-later
// The services an open calls that other parts of the library provide: the frame and sample
// counters, the audio header reader, the quick probe of mpegInGetInfo and the decoder
// creation. They are reached through one process-wide table so that the open sequence does
// not depend on how each of them works. A service that is not installed leaves its step out:
// no counter installed counts nothing, so an open that needs counted frames or samples fails
// with the library's own message; without the audio header reader the audio is dropped; without
// decoder creation no decoder is made and the stream stays for coded delivery.
#pragma once

#include <cstdint>

#include "brindle.h"

namespace quillion::brindle {

// How the samples of the chosen audio stream are counted.
enum class audio_count : std::uint32_t {
  full_index,       // every frame indexed (index mode)
  time_stamps,      // quick count from the time stamps of a system stream
  frames,           // quick count of the frames of an elementary stream
  pcm_index,        // DVD LPCM, indexed
  pcm_time_search,  // DVD LPCM, counted from time stamps
  aes3_index,       // AES3, indexed
  aes3_count        // AES3, counted
};

struct open_services {
  // Frame counts of the video parser, which the caller positions at its start. The index
  // build reports failure through the video parser's error flag.
  void (*count_video_quick)(mpeg_in_info* session, bool systemStream);
  void (*build_video_index)(mpeg_in_info* session);
  // The quick look at the video frames of mpegInGetInfo; 0 or 1.
  int (*probe_video_info)(mpeg_in_info* session);
  // Reads the first audio header of the positioned audio parser into the record; 0 or 1.
  int (*parse_audio_header)(mpeg_in_info* session);
  // Counts into the record's audio sample count; an index build reports failure through the
  // audio parser's error flag.
  void (*count_audio)(mpeg_in_info* session, audio_count how);
  // Create and release the decoders; 0 or 1 after a message.
  int (*create_video_decoder)(mpeg_in_info* session);
  int (*create_audio_decoder)(mpeg_in_info* session);
  void (*free_decoders)(mpeg_in_info* session);
};

// The installed services: the library's own audio header reader, the rest null until a part
// of the library installs its own.
const open_services& installed_open_services();
// Replaces the table; the previous one is returned so that a caller can put it back.
open_services install_open_services(const open_services& services);

}  // namespace quillion::brindle
