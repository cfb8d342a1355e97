// SPDX-License-Identifier: GPL-2.0-or-later
// The audio file reader over any bytes: written to a file, opened, decoded. A file the reader
// accepts has a rate and frames, and at 44.1 kHz decodes to no more than the frame count it
// announced; the audio track producer over it is either refused or at least 4 seconds long,
// and never delivers more blocks than it announced.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "DPMs/audio/mp3_reader.h"
#include "DPMs/tracks/dpm_audio.h"
#include "fuzz_support.h"

namespace {

using quillion::fuzz::check;

// Long sources are decoded only in part, to keep each run short.
constexpr std::uint64_t kFullDecodeFrames = 44'100 * 20;

std::string scratchPath() {
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp != nullptr ? tmp : "/tmp") + "/quillion-audio-fuzz-" +
         std::to_string(::getpid());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = scratchPath();
  // The libraries' own complaints about damaged input are expected by the thousand.
  static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
  (void)quiet;
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    return 0;
  }
  MP3Reader* reader = initAudio(path.c_str());
  check(reader != nullptr, "no reader");
  if (!isValidAudioFile(reader)) {
    check(GetMP3FrameCount(reader) == 0, "frames without an open file");
    check(reader->openStatus() != kNoErr, "refused without a status");
    termAudio(reader);
    ::unlink(path.c_str());
    return 0;
  }
  const std::uint64_t frames = GetMP3FrameCount(reader);
  const std::uint64_t rate = GetMP3TrackRate(reader);
  check(frames > 0 && rate > 0, "open without frames or rate");
  std::vector<std::uint8_t> buffer(16 * 2352);
  std::uint64_t bytes = 0;
  const bool whole = frames <= kFullDecodeFrames && rate >= 1000;
  for (int i = 0; i < (whole ? 1 << 30 : 4) && !isEndOfFile(reader); ++i) {
    std::int32_t got = 0;
    const EngineStatus s = GetNextCDDABlock(reader, 16, buffer.data(), &got, false);
    check(got >= 0 && static_cast<std::size_t>(got) <= buffer.size(), "bytes out of range");
    check(got % 4 == 0, "not whole stereo frames");
    bytes += static_cast<std::uint64_t>(got);
    if (s != kNoErr || got == 0) break;
  }
  // Never more than announced (a damaged packet may decode to less than its header says).
  if (whole && isEndOfFile(reader) && rate == 44'100) {
    check(bytes <= frames * 4, "decoded more than the announced frames");
  }
  termAudio(reader);

  DPM_Audio_Base track(path, 2.0f);
  std::uint16_t blockSize = 0;
  const std::uint32_t blocks = track.PrepareAll(&blockSize, nullptr, nullptr);
  check(blockSize == 2352, "audio block size");
  check(blocks == 0 || blocks >= 300, "a track under 4 seconds");
  if (blocks > 0 && whole) {
    std::uint64_t delivered = 0;
    for (;;) {
      std::uint32_t got = 0;
      const EngineStatus s =
          track.NextBlocks(buffer.data(), static_cast<std::uint32_t>(buffer.size()), 16, &got);
      delivered += got;
      if (s != kNoErr || got == 0) break;
    }
    check(delivered <= blocks, "more blocks than announced");
  }
  ::unlink(path.c_str());
  return 0;
}
