// SPDX-License-Identifier: GPL-2.0-or-later
#include "hd2_pictures.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace quillion::corvel {
namespace {

constexpr std::uint32_t kBPicture = 3;
constexpr std::int32_t kRate25 = 3;  // frame-rate code of 25 pictures a second

std::uint64_t recordDecodeTime(const std::uint32_t* r) {
  return std::uint64_t{r[5]} << 32 | r[4];
}

}  // namespace

std::int32_t Hd2PictureHold::create(std::uint32_t owner, const mpeg::Services& services) {
  destroy();
  if (held_.create(Hd2QueueKind::HeldPictures, owner, services) != 0 ||
      auxVideo_.create(Hd2QueueKind::AuxVideo, owner, services) != 0) {
    destroy();
    return 16;
  }
  return 0;
}

void Hd2PictureHold::destroy() {
  held_.destroy();
  auxVideo_.destroy();
  auxRecords_ = 0;
}

Hd2AuxVideoInfo Hd2PictureHold::auxVideoRecord(const std::uint32_t* first,
                                               const std::uint32_t* second, std::uint32_t count,
                                               std::uint32_t number) {
  Hd2AuxVideoInfo v{};
  v.words[0] = first[4];
  v.words[1] = first[5];
  v.words[2] = first[14];  // the fixed vbv_delay
  v.words[3] = first[2] >> 16;
  v.words[4] = first[1] & 0xFFFF;  // picture coding type
  v.words[5] = count;
  v.words[6] = number == 1 ? 1 : 0;
  v.words[7] = number;
  v.words[8] = second[11];
  v.words[9] = second[15];
  v.words[10] = first[16];
  v.words[11] = first[17];
  return v;
}

Hd2AuxAudioInfo Hd2PictureHold::auxAudioRecord(std::uint64_t decodeTime, std::uint32_t count,
                                               std::uint32_t number, std::int32_t frameRateCode) {
  const double scale = frameRateCode == kRate25 ? 0.003333333333333333 : 0.00333000333000333;
  const auto frames =
      static_cast<std::uint64_t>(std::ceil(static_cast<double>(decodeTime) / 300.0 * scale));
  Hd2AuxAudioInfo a{};
  a.words[0] = count & 0xFF;
  a.words[1] = number;
  a.words[2] = static_cast<std::uint32_t>(frames);
  a.words[3] = static_cast<std::uint32_t>(frames >> 32);
  return a;
}

std::int32_t Hd2PictureHold::releaseHeld(const Release& release, std::int32_t frameRateCode,
                                         Hd2Queue* auxAudio, std::int32_t& released) {
  const auto count = static_cast<std::uint32_t>(held_.count());
  if (count == 0) return 0;
  std::vector<std::uint32_t> records(std::size_t{count} * kHd2RecordWords);
  for (std::uint32_t i = 0; i < count; ++i)
    std::memcpy(records.data() + std::size_t{i} * kHd2RecordWords,
                held_.at(static_cast<std::int32_t>(i)), kHd2RecordWords * 4);
  const std::uint32_t* first = records.data();
  const std::uint32_t* second = count >= 2 ? first + kHd2RecordWords : first;
  const std::uint32_t number = auxRecords_ + 1;
  const Hd2AuxVideoInfo v = auxVideoRecord(first, second, count, number);
  const Hd2AuxAudioInfo a = auxAudioRecord(recordDecodeTime(first), count, number, frameRateCode);
  // Nothing leaves the hold unless the pictures and both auxiliary records all find room: a
  // refusal must not lose pictures. A put into a ring without room prints its message.
  if (!auxVideo_.hasRoom()) return auxVideo_.put(&v) == 0 ? 0 : -1;
  if (auxAudio && !auxAudio->hasRoom()) return auxAudio->put(&a) == 0 ? 0 : -1;
  if (!release(records.data(), count)) return -1;
  (void)auxVideo_.put(&v);
  if (auxAudio) (void)auxAudio->put(&a);
  std::uint32_t scratch[kHd2RecordWords];
  for (std::uint32_t i = 0; i < count; ++i) (void)held_.take(scratch);
  auxRecords_ = number;
  released = static_cast<std::int32_t>(count);
  return 0;
}

Hd2Arrival Hd2PictureHold::arrive(const std::uint32_t record[kHd2RecordWords],
                                  const Release& release, std::int32_t frameRateCode,
                                  Hd2Queue* auxAudio) {
  Hd2Arrival r;
  const bool anchor = (record[1] & 0xFFFF) != kBPicture;
  if (anchor) {
    r.result = releaseHeld(release, frameRateCode, auxAudio, r.released);
    if (r.result != 0) return r;
  }
  if (held_.put(record) != 0) r.result = -1;
  return r;
}

Hd2Arrival Hd2PictureHold::releaseAll(const Release& release, std::int32_t frameRateCode,
                                      Hd2Queue* auxAudio) {
  Hd2Arrival r;
  r.result = releaseHeld(release, frameRateCode, auxAudio, r.released);
  return r;
}

}  // namespace quillion::corvel
