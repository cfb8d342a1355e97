// SPDX-License-Identifier: GPL-2.0-or-later
// Writes a decoded picture into the caller's frame record in the record's fourcc: 4:2:0
// planar pictures are copied as they are, every other layout goes through libswscale.
#pragma once

#include "decoder_plugin.h"

extern "C" {
#include <libavutil/frame.h>
}

struct SwsContext;

namespace quillion::decoder {

class PictureWriter {
 public:
  PictureWriter() = default;
  ~PictureWriter();
  PictureWriter(const PictureWriter&) = delete;
  PictureWriter& operator=(const PictureWriter&) = delete;

  // False when the record's size differs from the picture's, its fourcc is unknown or a
  // plane is missing.
  bool write(const AVFrame& picture, const decoder_frame_record& target);

 private:
  SwsContext* scaler_ = nullptr;
};

}  // namespace quillion::decoder
