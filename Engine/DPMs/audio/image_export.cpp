// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/audio/image_export.h"

#include <unistd.h>

#include <cstdio>

#include "DPMs/audio/media_input.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace quillion {
namespace {

struct PictureCodecs {
  AVFormatContext* format = nullptr;
  AVCodecContext* decoder = nullptr;
  AVCodecContext* encoder = nullptr;
  SwsContext* scale = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* picture = nullptr;
  AVFrame* bgr = nullptr;

  ~PictureCodecs() {
    sws_freeContext(scale);
    av_frame_free(&bgr);
    av_frame_free(&picture);
    av_packet_free(&packet);
    avcodec_free_context(&encoder);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
  }
};

// The first decoded picture of the source, in c.picture.
EngineStatus decodeFirstPicture(const std::string& source, PictureCodecs& c) {
  if (::access(source.c_str(), R_OK) != 0) return kErrFileAccess;
  if (openMediaInput(source, &c.format) < 0) return kErrNotSupported;
  if (avformat_find_stream_info(c.format, nullptr) < 0) return kErrNotSupported;
  const int stream = av_find_best_stream(c.format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (stream < 0) return kErrNotSupported;
  const AVCodec* codec = avcodec_find_decoder(c.format->streams[stream]->codecpar->codec_id);
  if (codec == nullptr) return kErrNotSupported;
  c.decoder = avcodec_alloc_context3(codec);
  c.packet = av_packet_alloc();
  c.picture = av_frame_alloc();
  if (c.decoder == nullptr || c.packet == nullptr || c.picture == nullptr) return kErrOutOfMemory;
  if (avcodec_parameters_to_context(c.decoder, c.format->streams[stream]->codecpar) < 0 ||
      avcodec_open2(c.decoder, codec, nullptr) < 0) {
    return kErrNotSupported;
  }
  bool inputDone = false;
  for (;;) {
    const int r = avcodec_receive_frame(c.decoder, c.picture);
    if (r == 0) return kNoErr;
    if (r != AVERROR(EAGAIN) || inputDone) return kErrNotSupported;
    if (av_read_frame(c.format, c.packet) < 0) {
      avcodec_send_packet(c.decoder, nullptr);
      inputDone = true;
      continue;
    }
    if (c.packet->stream_index == stream) avcodec_send_packet(c.decoder, c.packet);
    av_packet_unref(c.packet);
  }
}

}  // namespace

EngineStatus exportPictureAsBmp(const std::string& source, const std::string& output) {
  PictureCodecs c;
  if (const EngineStatus s = decodeFirstPicture(source, c); s != kNoErr) return s;
  const int w = c.picture->width;
  const int h = c.picture->height;
  if (w <= 0 || h <= 0) return kErrNotSupported;
  const AVCodec* bmp = avcodec_find_encoder(AV_CODEC_ID_BMP);
  if (bmp == nullptr) return kErrNotSupported;
  c.encoder = avcodec_alloc_context3(bmp);
  c.bgr = av_frame_alloc();
  if (c.encoder == nullptr || c.bgr == nullptr) return kErrOutOfMemory;
  c.encoder->width = w;
  c.encoder->height = h;
  c.encoder->pix_fmt = AV_PIX_FMT_BGR24;
  c.encoder->time_base = AVRational{1, 1};
  if (avcodec_open2(c.encoder, bmp, nullptr) < 0) return kErrNotSupported;
  c.bgr->width = w;
  c.bgr->height = h;
  c.bgr->format = AV_PIX_FMT_BGR24;
  if (av_frame_get_buffer(c.bgr, 0) < 0) return kErrOutOfMemory;
  c.scale = sws_getContext(w, h, static_cast<AVPixelFormat>(c.picture->format), w, h,
                           AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (c.scale == nullptr) return kErrNotSupported;
  sws_scale(c.scale, c.picture->data, c.picture->linesize, 0, h, c.bgr->data, c.bgr->linesize);
  if (avcodec_send_frame(c.encoder, c.bgr) < 0 || avcodec_receive_packet(c.encoder, c.packet) < 0) {
    return kErrNotSupported;
  }
  std::FILE* out = std::fopen(output.c_str(), "wb");
  if (out == nullptr) return kErrFileAccess;
  const bool written = std::fwrite(c.packet->data, 1, static_cast<std::size_t>(c.packet->size),
                                   out) == static_cast<std::size_t>(c.packet->size);
  const bool closed = std::fclose(out) == 0;
  av_packet_unref(c.packet);
  return written && closed ? EngineStatus{kNoErr} : EngineStatus{kErrFileAccess};
}

}  // namespace quillion
