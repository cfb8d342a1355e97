// SPDX-License-Identifier: GPL-2.0-or-later
// The DVD subpicture decoder object: it gathers the stream's bytes into whole subpicture
// units (bytes taken exactly, one unit ready per status); drawing them over pictures is the
// caller's next step and not yet part of this object.
#pragma once

#include <vector>

#include "decoder_object.h"

namespace quillion::lorrimer {

class SubpictureDecoder final : public decoder::DecoderObject {
 public:
  explicit SubpictureDecoder(bool ntsc) : ntsc_(ntsc) {}
  bool ntsc() const { return ntsc_; }
  // The last whole unit.
  const std::vector<std::uint8_t>& unit() const { return ready_; }

 private:
  std::uint32_t feed(const std::uint8_t* data, std::uint32_t size) override;
  std::int32_t control(std::uint32_t offset, std::uint32_t id, void* data,
                       std::uint32_t size) override;
  bool takeHeader(const std::uint8_t*, std::uint32_t) override { return false; }
  bool readyToDecode() override { return true; }
  void reset() override;
  // The unit's length once its size field is complete; 0 before.
  std::uint32_t unitLength() const;

  bool ntsc_;
  std::vector<std::uint8_t> unit_;   // the unit being gathered
  std::vector<std::uint8_t> ready_;  // the last whole one
};

}  // namespace quillion::lorrimer
