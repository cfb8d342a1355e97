// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/audio/mp3_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "DPMs/audio/image_export.h"
#include "DPMs/audio/media_input.h"

namespace {

constexpr int kCDRate = 44'100;
// Above the highest rate audio equipment records at, a rate is damage: converting from it
// takes the converter tens of seconds to set up, for no real source.
constexpr int kHighestSourceRate = 768'000;
constexpr std::uint32_t kCDFrameBytes = 4;  // 16-bit stereo

bool encrypted(const AVStream* stream) {
  return av_stream_get_side_data(stream, AV_PKT_DATA_ENCRYPTION_INIT_INFO, nullptr) != nullptr ||
         av_stream_get_side_data(stream, AV_PKT_DATA_ENCRYPTION_INFO, nullptr) != nullptr;
}

}  // namespace

// One pass over the file: demuxer, decoder and (for the output pass) the converter to CD
// audio, with the converted bytes not yet handed out.
struct MP3Reader::Decoder {
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  SwrContext* convert = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  int stream = -1;
  bool inputDone = false;  // the decoder has been told the input ended
  bool finished = false;   // every sample is in `pending`
  // What the converter was set up for.
  AVChannelLayout inLayout{};
  int inRate = 0;
  int inFormat = -1;
  std::vector<std::uint8_t> pending;
  std::size_t pendingAt = 0;

  ~Decoder() {
    swr_free(&convert);
    av_channel_layout_uninit(&inLayout);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
  }

  EngineStatus open(const std::string& path) {
    if (::access(path.c_str(), R_OK) != 0) return kErrFileAccess;
    if (quillion::openMediaInput(path, &format) < 0) return kErrNoAudioStream;
    if (avformat_find_stream_info(format, nullptr) < 0) return kErrNoAudioStream;
    stream = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (stream < 0) return kErrNoAudioStream;
    const AVStream* st = format->streams[stream];
    if (encrypted(st)) return kErrNotSupported;
    const AVCodec* decoderFound = avcodec_find_decoder(st->codecpar->codec_id);
    if (decoderFound == nullptr) return kErrNotSupported;
    codec = avcodec_alloc_context3(decoderFound);
    packet = av_packet_alloc();
    frame = av_frame_alloc();
    if (codec == nullptr || packet == nullptr || frame == nullptr) return kErrOutOfMemory;
    if (avcodec_parameters_to_context(codec, st->codecpar) < 0) return kErrNotSupported;
    codec->pkt_timebase = st->time_base;
    if (avcodec_open2(codec, decoderFound, nullptr) < 0) return kErrNotSupported;
    // Only the chosen stream is read.
    for (unsigned i = 0; i < format->nb_streams; ++i) {
      if (static_cast<int>(i) != stream) format->streams[i]->discard = AVDISCARD_ALL;
    }
    return kNoErr;
  }

  // The next decoded frame in `frame`: 1, 0 at the end, or a negative engine status.
  int nextFrame() {
    for (;;) {
      int r = avcodec_receive_frame(codec, frame);
      if (r == 0) return 1;
      if (r == AVERROR_EOF) return 0;
      if (r != AVERROR(EAGAIN)) return kErrFileAccess;
      if (inputDone) return 0;
      r = av_read_frame(format, packet);
      if (r == AVERROR(EIO)) return kErrFileAccess;
      if (r < 0) {
        // The end of the file, or data past what the demuxer can read: the stream ends here,
        // and the decoder hands out what it still holds.
        avcodec_send_packet(codec, nullptr);
        inputDone = true;
        continue;
      }
      if (packet->stream_index != stream) {
        av_packet_unref(packet);
        continue;
      }
      if (av_packet_get_side_data(packet, AV_PKT_DATA_ENCRYPTION_INFO, nullptr) != nullptr) {
        av_packet_unref(packet);
        return kErrNotSupported;
      }
      r = avcodec_send_packet(codec, packet);
      av_packet_unref(packet);
      // A damaged packet is skipped, as a player would.
      if (r < 0 && r != AVERROR_INVALIDDATA) return kErrFileAccess;
    }
  }

  // Sums the packets' sample counts when every packet states one exactly; false (with the
  // packets consumed) for other codecs or any packet without a duration.
  bool countFromPackets(std::uint64_t& frames) {
    const AVCodecID id = codec->codec_id;
    if (id != AV_CODEC_ID_FLAC && av_get_exact_bits_per_sample(id) <= 0) return false;
    if (codec->sample_rate <= 0) return false;
    const AVRational base = format->streams[stream]->time_base;
    const AVRational perSample{1, codec->sample_rate};
    frames = 0;
    for (;;) {
      const int r = av_read_frame(format, packet);
      if (r == AVERROR_EOF) return true;
      if (r < 0) return false;
      const bool ours = packet->stream_index == stream;
      const std::int64_t duration = packet->duration;
      av_packet_unref(packet);
      if (!ours) continue;
      if (duration <= 0) return false;
      frames += static_cast<std::uint64_t>(av_rescale_q(duration, base, perSample));
    }
  }

  // Sets the converter up for the current frame's format, first flushing one made for another.
  EngineStatus configureFor(const AVFrame& f) {
    AVChannelLayout layout{};
    if (f.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || f.ch_layout.nb_channels == 0) {
      av_channel_layout_default(&layout, f.ch_layout.nb_channels > 0
                                             ? f.ch_layout.nb_channels
                                             : codec->ch_layout.nb_channels);
    } else if (av_channel_layout_copy(&layout, &f.ch_layout) < 0) {
      return kErrOutOfMemory;
    }
    const bool same = convert != nullptr && f.sample_rate == inRate && f.format == inFormat &&
                      av_channel_layout_compare(&layout, &inLayout) == 0;
    if (same || layout.nb_channels <= 0 || f.sample_rate <= 0 ||
        f.sample_rate > kHighestSourceRate) {
      av_channel_layout_uninit(&layout);
      return same ? EngineStatus{kNoErr} : EngineStatus{kErrNotSupported};
    }
    if (convert != nullptr) {
      if (const EngineStatus s = drainConverter(); s != kNoErr) {
        av_channel_layout_uninit(&layout);
        return s;
      }
      swr_free(&convert);
    }
    av_channel_layout_uninit(&inLayout);
    inLayout = layout;
    inRate = f.sample_rate;
    inFormat = f.format;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    if (swr_alloc_set_opts2(&convert, &stereo, AV_SAMPLE_FMT_S16, kCDRate, &inLayout,
                            static_cast<AVSampleFormat>(inFormat), inRate, 0, nullptr) < 0) {
      return kErrOutOfMemory;
    }
    // A mono source goes to both channels at full level, as a CD player plays mono.
    if (inLayout.nb_channels == 1) {
      const double both[2] = {1.0, 1.0};
      if (swr_set_matrix(convert, both, 1) < 0) return kErrNotSupported;
    }
    return swr_init(convert) < 0 ? EngineStatus{kErrNotSupported} : EngineStatus{kNoErr};
  }

  // Converts `samples` frames of `data` (none: flush) into `pending`.
  EngineStatus convertInto(const std::uint8_t** data, int samples) {
    const int room = swr_get_out_samples(convert, samples);
    if (room < 0) return kErrNotSupported;
    if (room == 0) return kNoErr;
    const std::size_t at = pending.size();
    pending.resize(at + std::size_t(room) * kCDFrameBytes);
    std::uint8_t* out = pending.data() + at;
    const int made = swr_convert(convert, &out, room, data, samples);
    if (made < 0) {
      pending.resize(at);
      return kErrNotSupported;
    }
    pending.resize(at + std::size_t(made) * kCDFrameBytes);
    return kNoErr;
  }

  EngineStatus drainConverter() {
    for (;;) {
      const std::size_t before = pending.size();
      if (const EngineStatus s = convertInto(nullptr, 0); s != kNoErr) return s;
      if (pending.size() == before) return kNoErr;
    }
  }

  std::size_t available() const { return pending.size() - pendingAt; }

  // Decodes until `bytes` are pending or the source has ended.
  EngineStatus fill(std::size_t bytes) {
    while (available() < bytes && !finished) {
      const int r = nextFrame();
      if (r < 0) return static_cast<EngineStatus>(r);
      if (r == 0) {
        finished = true;
        if (convert != nullptr) return drainConverter();
        return kNoErr;
      }
      EngineStatus s = configureFor(*frame);
      if (s == kNoErr) {
        s = convertInto(const_cast<const std::uint8_t**>(frame->extended_data), frame->nb_samples);
      }
      av_frame_unref(frame);
      if (s != kNoErr) return s;
    }
    return kNoErr;
  }

  std::size_t take(std::uint8_t* out, std::size_t bytes) {
    const std::size_t n = std::min(bytes, available());
    if (n == 0) return 0;
    std::memcpy(out, pending.data() + pendingAt, n);
    pendingAt += n;
    if (pendingAt == pending.size()) {
      pending.clear();
      pendingAt = 0;
    } else if (pendingAt > pending.size() / 2) {
      pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(pendingAt));
      pendingAt = 0;
    }
    return n;
  }
};

MP3Reader::MP3Reader(std::string path) : path_(std::move(path)) {
  openStatus_ = OpenMP3();
}

MP3Reader::~MP3Reader() = default;

EngineStatus MP3Reader::OpenMP3() {
  if (opened_) return kNoErr;
  endOfSource_ = false;
  frameCount_ = 0;
  trackRate_ = 0;
  // The counting pass: every sample the decoder gives, once delay and padding are removed.
  // Formats whose packets state their exact sample count (PCM, FLAC) are counted from the
  // packets alone, without decoding.
  std::uint64_t frames = 0;
  {
    Decoder count;
    if (const EngineStatus s = count.open(path_); s != kNoErr) return openStatus_ = s;
    if (count.countFromPackets(frames)) {
      trackRate_ = static_cast<std::uint32_t>(count.codec->sample_rate);
    } else {
      frames = 0;
      Decoder decode;
      if (const EngineStatus s = decode.open(path_); s != kNoErr) return openStatus_ = s;
      for (;;) {
        const int r = decode.nextFrame();
        if (r < 0) return openStatus_ = static_cast<EngineStatus>(r);
        if (r == 0) break;
        const int rate = decode.frame->sample_rate;
        if (rate > 0) {
          if (trackRate_ == 0) trackRate_ = static_cast<std::uint32_t>(rate);
          // A stream whose frames change rate plays at the first frame's rate: each frame
          // counts as the samples it becomes at that rate, rounded up, so the count is never
          // short.
          frames += (static_cast<std::uint64_t>(decode.frame->nb_samples) * trackRate_ +
                     static_cast<std::uint64_t>(rate) - 1) /
                    static_cast<std::uint64_t>(rate);
        }
        av_frame_unref(decode.frame);
      }
    }
  }
  if (trackRate_ > static_cast<std::uint32_t>(kHighestSourceRate)) {
    trackRate_ = 0;
    return openStatus_ = kErrNotSupported;
  }
  if (frames == 0 || trackRate_ == 0) {
    trackRate_ = 0;
    return openStatus_ = kErrNoAudioStream;
  }
  auto decoder = std::make_unique<Decoder>();
  if (const EngineStatus s = decoder->open(path_); s != kNoErr) {
    trackRate_ = 0;
    return openStatus_ = s;
  }
  decoder_ = std::move(decoder);
  frameCount_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(frames, 0xFFFFFFFFu));
  opened_ = true;
  return openStatus_ = kNoErr;
}

EngineStatus MP3Reader::CloseMP3() {
  decoder_.reset();
  opened_ = false;
  return kNoErr;
}

EngineStatus MP3Reader::GetNextCDDABlock(std::uint32_t count, void* buffer, std::int32_t* bytesGot,
                                         bool byteCopy) {
  if (bytesGot != nullptr) *bytesGot = 0;
  if (count == 0 || buffer == nullptr || decoder_ == nullptr) return kNoErr;
  // Whole stereo frames only, and never more than a signed count can say.
  std::uint64_t want = std::uint64_t{count} * blockSize_;
  want = std::min<std::uint64_t>(want, 0x7FFFFFFFu) / kCDFrameBytes * kCDFrameBytes;
  const EngineStatus s = decoder_->fill(static_cast<std::size_t>(want));
  auto* out = static_cast<std::uint8_t*>(buffer);
  const std::size_t got = decoder_->take(out, static_cast<std::size_t>(want));
  if (byteCopy) {
    for (std::size_t i = 0; i + 1 < got; i += 2) out[i + 1] = out[i];
  }
  if (bytesGot != nullptr) *bytesGot = static_cast<std::int32_t>(got);
  if (decoder_->finished && decoder_->available() == 0) endOfSource_ = true;
  return s;
}

EngineStatus MP3Reader::ReadBytes(std::uint32_t offset, std::uint32_t count, void* buffer) const {
  if (buffer == nullptr && count > 0) return kErrBadArgument;
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kErrFileAccess;
  std::size_t done = 0;
  auto* out = static_cast<std::uint8_t*>(buffer);
  while (done < count) {
    const ssize_t n = ::pread(fd, out + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return done == count ? EngineStatus{kNoErr} : EngineStatus{kErrFileAccess};
}

EngineStatus MP3Reader::setOutPutFile(const char* path) {
  if (path == nullptr || *path == '\0') return kErrBadArgument;
  outputPath_ = path;
  return kNoErr;
}

EngineStatus MP3Reader::exportImageAsBmp() const {
  if (outputPath_.empty()) return kErrBadArgument;
  return quillion::exportPictureAsBmp(path_, outputPath_);
}

MP3Reader* initAudio(const char* path) {
  return new MP3Reader(path != nullptr ? path : "");
}

void termAudio(MP3Reader* reader) {
  delete reader;
}

bool isValidAudioFile(MP3Reader* reader) {
  return reader != nullptr && reader->isValid();
}

EngineStatus OpenMP3(MP3Reader* reader) {
  return reader != nullptr ? reader->OpenMP3() : EngineStatus{kErrBadArgument};
}

EngineStatus CloseMP3(MP3Reader* reader) {
  return reader != nullptr ? reader->CloseMP3() : EngineStatus{kNoErr};
}

std::uint32_t GetMP3FrameCount(MP3Reader* reader) {
  return reader != nullptr ? reader->frameCount() : 0;
}

std::uint32_t GetMP3TrackRate(MP3Reader* reader) {
  return reader != nullptr ? reader->trackRate() : 0;
}

std::uint32_t GetBlockSize(MP3Reader* reader) {
  return reader != nullptr ? reader->blockSize() : 0;
}

void SetBlockSize(MP3Reader* reader, std::uint32_t bytes) {
  if (reader != nullptr) reader->setBlockSize(bytes);
}

bool isEndOfFile(MP3Reader* reader) {
  return reader == nullptr || reader->isEndOfFile();
}

EngineStatus GetNextCDDABlock(MP3Reader* reader, std::uint32_t count, void* buffer,
                              std::int32_t* bytesGot, bool byteCopy) {
  if (reader == nullptr) {
    if (bytesGot != nullptr) *bytesGot = 0;
    return kNoErr;
  }
  return reader->GetNextCDDABlock(count, buffer, bytesGot, byteCopy);
}

EngineStatus ReadBytes(MP3Reader* reader, std::uint32_t offset, std::uint32_t count, void* buffer) {
  return reader != nullptr ? reader->ReadBytes(offset, count, buffer)
                           : EngineStatus{kErrBadArgument};
}

EngineStatus setOutPutFile(MP3Reader* reader, const char* path) {
  return reader != nullptr ? reader->setOutPutFile(path) : EngineStatus{kErrBadArgument};
}

EngineStatus QTGraph_ExportImageWithoutDialog(MP3Reader* reader) {
  return reader != nullptr ? reader->exportImageAsBmp() : EngineStatus{kErrBadArgument};
}

bool IsValidForCurVersion() {
  return AV_VERSION_MAJOR(avcodec_version()) >= LIBAVCODEC_VERSION_MAJOR &&
         AV_VERSION_MAJOR(avformat_version()) >= LIBAVFORMAT_VERSION_MAJOR &&
         AV_VERSION_MAJOR(swresample_version()) >= LIBSWRESAMPLE_VERSION_MAJOR;
}
