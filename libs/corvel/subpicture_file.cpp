// SPDX-License-Identifier: GPL-2.0-or-later
#include "subpicture_file.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "bufstream.h"

namespace quillion::corvel {
namespace {

struct SubpictureFile {
  const mpeg::Services* services = nullptr;
  std::FILE* file = nullptr;
  std::uint8_t unit[kSubpictureUnitMax] = {};
  std::uint32_t size = 0;
  std::uint32_t position = 0;
};

SubpictureFile* stateOf(bufstream* bs) {
  return static_cast<SubpictureFile*>(bs->implementation);
}

// The next record's unit. A length below 2 cannot hold its own length field: the data ends.
bool readRecord(SubpictureFile& s) {
  std::uint8_t header[10];
  if (std::fread(header, 1, sizeof header, s.file) != sizeof header) return false;
  const std::uint32_t length = (std::uint32_t{header[8]} << 8) | header[9];
  if (length < 2) return false;
  std::memcpy(s.unit, header + 8, 2);
  if (std::fread(s.unit + 2, 1, length - 2, s.file) != length - 2) return false;
  s.size = length;
  s.position = 0;
  return true;
}

std::uint32_t usable(bufstream* bs) {
  const SubpictureFile* s = stateOf(bs);
  return s ? s->size - s->position : 0;
}

std::uint8_t* request(bufstream* bs, std::uint32_t n) {
  SubpictureFile* s = stateOf(bs);
  if (!s || n > kSubpictureUnitMax) return nullptr;
  if (s->position + n <= s->size) return s->unit + s->position;
  if (!readRecord(*s) || n > s->size) return nullptr;
  return s->unit;
}

std::uint32_t confirm(bufstream* bs, std::uint32_t n) {
  SubpictureFile* s = stateOf(bs);
  if (!s || s->position + n > s->size) return 0;
  s->position += n;
  return n;
}

std::uint32_t copyBytes(bufstream* bs, std::uint8_t* p, std::uint32_t n) {
  SubpictureFile* s = stateOf(bs);
  if (!s || !p || n > kSubpictureUnitMax) return 0;
  if (s->position + n > s->size) {
    if (!readRecord(*s) || n > s->size) return 0;
  }
  std::memcpy(p, s->unit + s->position, n);
  s->position += n;
  return n;
}

std::uint32_t chunkSize(bufstream*) {
  return kSubpictureUnitMax;
}

std::int32_t auxInfo(bufstream*, std::uint32_t, std::uint32_t, void*, std::uint32_t) {
  return 0;
}

int done(bufstream* bs, int) {
  SubpictureFile* s = stateOf(bs);
  if (!s) return 0;
  const int closed = s->file ? std::fclose(s->file) : 0;
  const mpeg::Services* services = s->services;
  s->~SubpictureFile();
  services->release(s);
  bs->implementation = nullptr;
  return closed == 0 ? 0 : -1;
}

void freeStream(bufstream* bs) {
  if (!bs) return;
  SubpictureFile* s = stateOf(bs);
  const mpeg::Services* services = s ? s->services : nullptr;
  (void)done(bs, 0);
  if (services) {
    bs->~bufstream();
    services->release(bs);
  }
}

}  // namespace

bufstream* openSubpictureFile(const char* name, const mpeg::Services& services) {
  void* stateRoom = services.allocate(sizeof(SubpictureFile));
  if (!stateRoom) return nullptr;
  auto* state = new (stateRoom) SubpictureFile;
  state->services = &services;
  state->file = std::fopen(name, "rb");
  void* streamRoom = services.allocate(sizeof(bufstream));
  if (!state->file || !streamRoom || !readRecord(*state)) {
    if (state->file) std::fclose(state->file);
    state->~SubpictureFile();
    services.release(state);
    if (streamRoom) services.release(streamRoom);
    return nullptr;
  }
  auto* bs = new (streamRoom) bufstream{};
  bs->usable_bytes = usable;
  bs->request = request;
  bs->confirm = confirm;
  bs->copybytes = copyBytes;
  bs->chunksize = chunkSize;
  bs->auxinfo = auxInfo;
  bs->done = done;
  bs->free = freeStream;
  bs->implementation = state;
  return bs;
}

}  // namespace quillion::corvel
