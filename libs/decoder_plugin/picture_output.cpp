// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture_output.h"

#include <cstdint>
#include <cstring>
#include <utility>

extern "C" {
#include <libswscale/swscale.h>
}

namespace quillion::decoder {
namespace picture_output_detail {

constexpr std::uint32_t fourcc(char a, char b, char c, char d) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24;
}

struct FourccFormat {
  std::uint32_t code;
  AVPixelFormat format;
  bool swapChroma;  // planar with V before U
};

// The output layouts a caller may ask for, and the libswscale format of each.
constexpr FourccFormat kFormats[] = {
    {fourcc('I', '4', '2', '0'), AV_PIX_FMT_YUV420P, false},
    {fourcc('Y', 'V', '1', '2'), AV_PIX_FMT_YUV420P, true},
    {fourcc('Y', 'U', 'Y', '2'), AV_PIX_FMT_YUYV422, false},
    {fourcc('Y', 'U', 'Y', 'V'), AV_PIX_FMT_YUYV422, false},
    {fourcc('U', 'Y', 'V', 'Y'), AV_PIX_FMT_UYVY422, false},
    {fourcc('B', 'G', 'R', '3'), AV_PIX_FMT_BGR24, false},
    {fourcc('B', 'G', 'R', '4'), AV_PIX_FMT_BGRA, false},
    {fourcc('B', 'G', 'R', 'A'), AV_PIX_FMT_BGRA, false},
    {fourcc('R', '3', '2', 'C'), AV_PIX_FMT_BGRA, false},
    {fourcc('R', '5', '5', '5'), AV_PIX_FMT_RGB555LE, false},
    {fourcc('R', '5', '6', '5'), AV_PIX_FMT_RGB565LE, false},
};

const FourccFormat* formatOf(std::uint32_t code) {
  for (const FourccFormat& f : kFormats)
    if (f.code == code) return &f;
  return nullptr;
}

bool planar(AVPixelFormat f) {
  return f == AV_PIX_FMT_YUV420P;
}

void copyPlane(const std::uint8_t* from, int fromStride, std::uint8_t* to, int toStride, int bytes,
               int rows) {
  for (int r = 0; r < rows; ++r)
    std::memcpy(to + static_cast<std::ptrdiff_t>(r) * toStride,
                from + static_cast<std::ptrdiff_t>(r) * fromStride,
                static_cast<std::size_t>(bytes));
}

}  // namespace picture_output_detail

using namespace picture_output_detail;

PictureWriter::~PictureWriter() {
  sws_freeContext(scaler_);
}

bool PictureWriter::write(const AVFrame& picture, const decoder_frame_record& target) {
  const FourccFormat* format = formatOf(target.fourcc);
  if (!format || picture.width <= 0 || picture.height <= 0) return false;
  if (target.width != static_cast<std::uint32_t>(picture.width) ||
      target.height != static_cast<std::uint32_t>(picture.height))
    return false;
  const bool isPlanar = planar(format->format);
  std::uint8_t* planes[3] = {target.planes[0], target.planes[1], target.planes[2]};
  int strides[3] = {target.strides[0], target.strides[1], target.strides[2]};
  if (format->swapChroma) {
    std::swap(planes[1], planes[2]);
    std::swap(strides[1], strides[2]);
  }
  if (!planes[0] || (isPlanar && (!planes[1] || !planes[2]))) return false;

  const int w = picture.width;
  const int h = picture.height;
  if (isPlanar && picture.format == AV_PIX_FMT_YUV420P) {
    copyPlane(picture.data[0], picture.linesize[0], planes[0], strides[0], w, h);
    copyPlane(picture.data[1], picture.linesize[1], planes[1], strides[1], (w + 1) / 2,
              (h + 1) / 2);
    copyPlane(picture.data[2], picture.linesize[2], planes[2], strides[2], (w + 1) / 2,
              (h + 1) / 2);
    return true;
  }
  scaler_ = sws_getCachedContext(scaler_, w, h, static_cast<AVPixelFormat>(picture.format), w, h,
                                 format->format, SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!scaler_) return false;
  return sws_scale(scaler_, picture.data, picture.linesize, 0, h, planes, strides) == h;
}

}  // namespace quillion::decoder
