// SPDX-License-Identifier: GPL-2.0-or-later
#include "mp3enc/vbri.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace quillion::mp3enc {

namespace {

// Layer III bit rates in kbit/s: MPEG-1, then MPEG-2 and 2.5.
constexpr int brTable[2][16] = {
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}};
constexpr int samplesPerFrameTable[3] = {1152, 576, 576};
constexpr std::int32_t srTable[3][3] = {
    {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
// The header frame must hold the VBRI fields and a full table of 200 two-byte entries.
constexpr int kSmallestHeaderFrame = 462;

}  // namespace

void CMp3Header::ResetMembers() {
  *this = CMp3Header{};
}

bool CMp3Header::Identify(std::uint32_t w) {
  const int vb = static_cast<int>((w >> 19) & 3);
  const int ly = static_cast<int>((w >> 17) & 3);
  const int br = static_cast<int>((w >> 12) & 15);
  const int sr = static_cast<int>((w >> 10) & 3);
  if (w < 0xFFE00000u || ly != 1 || br == 0 || br == 15 || sr == 3 || vb == 1) {
    ResetMembers();
    return false;
  }
  SetMembers(w);
  return true;
}

void CMp3Header::SetMembers(std::uint32_t w) {
  word = w;
  versionBits = static_cast<int>((w >> 19) & 3);
  layer = static_cast<int>((w >> 17) & 3);
  protection = static_cast<int>((w >> 16) & 1);
  bitrateIndex = static_cast<int>((w >> 12) & 15);
  rateIndex = static_cast<int>((w >> 10) & 3);
  padding = static_cast<int>((w >> 9) & 1);
  privateBit = static_cast<int>((w >> 8) & 1);
  mode = static_cast<int>((w >> 6) & 3);
  modeExtension = static_cast<int>((w >> 4) & 3);
  copyright = static_cast<int>((w >> 3) & 1);
  original = static_cast<int>((w >> 2) & 1);
  emphasis = static_cast<int>(w & 3);
  version = versionBits == 3 ? 0 : versionBits == 2 ? 1 : 2;
  channels = mode == 3 ? 1 : 2;
  sampleRate = srTable[version][rateIndex];
  bitrate = brTable[version == 0 ? 0 : 1][bitrateIndex] * 1000;
  CalcFrameLen();
  valid = true;
}

int CMp3Header::GetSamplesPerFrame() const {
  return samplesPerFrameTable[version];
}

void CMp3Header::CalcFrameLen() {
  const int samples = GetSamplesPerFrame();
  frameBits = (bitrate / 8 * samples / sampleRate + padding) * 8;
  durationMs = static_cast<float>(samples) * 1000.0f / static_cast<float>(sampleRate);
}

void CToc::Enter(std::uint32_t position) {
  ++frames_;
  last_ = position;
  if (frames_ % framesPerEntry_ != 0) return;
  entries_[count_++] = position;
  if (count_ == 200) framesPerEntry_ *= 2;
  if (count_ == 300) {
    // Keep every second of the first 200 and the last 100 after them: one spacing again.
    for (int i = 0; i < 100; ++i) entries_[i] = entries_[2 * i];
    for (int i = 0; i < 100; ++i) entries_[100 + i] = entries_[200 + i];
    count_ = 200;
    framesPerEntry_ *= 2;
  }
}

int CToc::GetNumValidEntries() const {
  return count_ > 200 ? count_ - 100 : count_;
}

std::uint32_t CToc::GetEntry(int i) const {
  if (count_ <= 200) return entries_[i];
  return i < 100 ? entries_[2 * i] : entries_[i + 100];
}

const std::uint8_t CVbri::hdrTemplate[4] = {0xFF, 0xFB, 0x30, 0x4C};
const std::int32_t CVbri::mpegBitrates[2][15] = {
    {0, 32000, 40000, 48000, 56000, 64000, 80000, 96000, 112000, 128000, 160000, 192000, 224000,
     256000, 320000},
    {0, 8000, 16000, 24000, 32000, 40000, 48000, 56000, 64000, 80000, 96000, 112000, 128000, 144000,
     160000}};

void CVbri::Init() {
  *this = CVbri{};
}

void CVbri::SetInfo(int delayAdd, int quality) {
  delay_ += delayAdd;
  quality_ = quality;
}

void CVbri::Enter(std::uint32_t position) {
  toc_->Enter(position);
}

bool CVbri::ProcessOneHeader(std::uint32_t word, int* length) {
  if (!header_.Identify(word) || header_.frameBits % 8 != 0) return false;
  if (!seenFirst_) {
    auto toc = std::unique_ptr<CToc>(new (std::nothrow) CToc);
    if (!toc) return false;
    granules_ = header_.version == 0 ? 2 : 1;
    samplesPerFrame_ = 576 * granules_;
    const int row = header_.version == 0 ? 0 : 1;
    int chosen = -1, bytes = 0;
    for (int i = 1; i < 15; ++i) {
      bytes = mpegBitrates[row][i] / 8 * samplesPerFrame_ / header_.sampleRate;
      if (bytes > kSmallestHeaderFrame) {
        chosen = i;
        break;
      }
    }
    if (chosen < 0) return false;
    toc_ = std::move(toc);
    headerIndex_ = chosen;
    headerLength_ = bytes;
    delay_ += samplesPerFrame_;
    firstWord_ = word;
    seenFirst_ = true;
    streamBytes_ = static_cast<std::uint32_t>(headerLength_);
  }
  if (toc_->FramesEntered() == 0) Enter(0);  // the header frame itself
  Enter(streamBytes_);
  const int bytes = header_.frameBits / 8;
  streamBytes_ += static_cast<std::uint32_t>(bytes);
  lastFrameBytes_ = bytes;
  if (length) *length = bytes;
  return true;
}

void CVbri::WriteLong(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

void CVbri::WriteShort(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 8);
  at[1] = static_cast<std::uint8_t>(value);
}

void CVbri::Write(std::uint8_t* out) const {
  std::memset(out, 0, static_cast<std::size_t>(headerLength_));
  CMp3Header first;
  first.Identify(firstWord_);
  std::memcpy(out, hdrTemplate, 4);
  out[1] = static_cast<std::uint8_t>((out[1] & ~0x18) | (first.versionBits << 3));
  out[2] =
      static_cast<std::uint8_t>((headerIndex_ << 4) | (first.rateIndex << 2) | first.privateBit);
  out[3] =
      static_cast<std::uint8_t>((first.mode << 6) | (first.copyright << 3) | (first.original << 2));
  if (!toc_ || toc_->FramesEntered() == 0) return;
  const int perEntry = toc_->FramesPerEntry();
  const int scale = std::clamp(perEntry / (first.version == 0 ? 32 : 64), 1, 32768);
  const int entries = toc_->GetNumValidEntries();
  std::uint8_t* v = out + GetVbriOffset();
  std::memcpy(v, "VBRI", 4);
  WriteShort(v + 4, 1);
  WriteShort(v + 6, static_cast<std::uint32_t>(delay_));
  WriteShort(v + 8, static_cast<std::uint32_t>(quality_));
  WriteLong(v + 10, streamBytes_);
  WriteLong(v + 14, static_cast<std::uint32_t>(toc_->FramesEntered()));
  WriteShort(v + 18, static_cast<std::uint32_t>(entries - 1));
  WriteShort(v + 20, static_cast<std::uint32_t>(scale));
  WriteShort(v + 22, 2);
  WriteShort(v + 24, static_cast<std::uint32_t>(perEntry));
  for (int i = 1; i < entries; ++i) {
    const std::uint32_t delta =
        (toc_->GetEntry(i) - toc_->GetEntry(i - 1)) / static_cast<std::uint32_t>(scale);
    WriteShort(v + 26 + 2 * (i - 1), delta);
  }
}

bool CVbri::GetVBRIndexTable(std::uint8_t* buffer, std::size_t size, int* length) const {
  if (!seenFirst_ || !buffer || !length || size < static_cast<std::size_t>(headerLength_))
    return false;
  Write(buffer);
  *length = headerLength_;
  return true;
}

CVbri* Vbri() {
  return new (std::nothrow) CVbri;
}

void VbriSetInfo(CVbri* builder, int delayAdd, int quality) {
  if (builder) builder->SetInfo(delayAdd, quality);
}

int VbriProcessOneHeader(CVbri* builder, std::uint32_t word, int* length) {
  return builder && builder->ProcessOneHeader(word, length) ? 1 : 0;
}

int VbriGetIndexTable(const CVbri* builder, std::uint8_t* buffer, std::size_t size, int* length) {
  return builder && builder->GetVBRIndexTable(buffer, size, length) ? 1 : 0;
}

void VbriDelete(CVbri* builder) {
  delete builder;
}

}  // namespace quillion::mp3enc
