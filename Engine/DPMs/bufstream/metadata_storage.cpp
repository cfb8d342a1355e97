// SPDX-License-Identifier: GPL-2.0-or-later
// Metadata storage: up to eight side files beside a stream, one per channel, written and read
// block by block through auxinfo.
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "file_io.h"
#include "front_stream.h"
#include "pass_through.h"

namespace quillion::bufstream_detail {
namespace {

constexpr std::uint32_t kChannels = 8;
constexpr std::size_t kMaxBaseName = 2047;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct MetadataState {
  bufstream* wrapped = nullptr;
  std::array<File, kChannels> files;
  std::string baseName;
  bool emptyAtEnd = false;

  std::string sideName(std::uint32_t channel) const {
    return baseName + ".md" + std::to_string(channel);
  }
};

MetadataState* stateOf(metadata_storage* storage) {
  return storage ? static_cast<MetadataState*>(storage->stream.implementation) : nullptr;
}

// Empties a side file by creating it anew.
bool emptySide(const MetadataState& s, std::uint32_t channel) {
  std::FILE* f = std::fopen(s.sideName(channel).c_str(), "wb");
  return f && std::fclose(f) == 0;
}

std::int32_t sideFileOperation(MetadataState& s, std::uint32_t channel, std::uint32_t id,
                               void* data, std::uint32_t size) {
  File& file = s.files[channel];
  switch (id) {
    case BUFSTREAM_AUX_MD_OPEN_WRITE:
    case BUFSTREAM_AUX_MD_OPEN_READ:
      if (file) return -1;
      file.reset(
          std::fopen(s.sideName(channel).c_str(), id == BUFSTREAM_AUX_MD_OPEN_WRITE ? "wb" : "rb"));
      return file ? 0 : -1;
    case BUFSTREAM_AUX_MD_CLOSE: {
      if (!file) return 0;
      const bool ok = std::fclose(file.release()) == 0;
      return ok ? 0 : -1;
    }
    case BUFSTREAM_AUX_MD_WRITE:
      if (!file || (size > 0 && !data)) return -1;
      return std::fwrite(data, 1, size, file.get()) == size ? 0 : -1;
    case BUFSTREAM_AUX_MD_READ:
      if (!file || (size > 0 && !data)) return -1;
      return std::fread(data, 1, size, file.get()) == size ? 0 : -1;
    case BUFSTREAM_AUX_MD_REWIND:
      if (!file) return -1;
      std::rewind(file.get());
      return 0;
    case BUFSTREAM_AUX_MD_EMPTY:
      if (file || !emptySide(s, channel)) return -1;
      s.emptyAtEnd = true;
      return 0;
    case BUFSTREAM_AUX_MD_EMPTY_AT_END:
      s.emptyAtEnd = true;
      return 0;
    case BUFSTREAM_AUX_MD_SIZE: {
      if (!file || !data || size < sizeof(std::uint64_t)) return -1;
      if (std::fflush(file.get()) != 0) return -1;
      struct stat st {};
      if (::fstat(::fileno(file.get()), &st) != 0) return -1;
      return answer(data, size, static_cast<std::uint64_t>(st.st_size));
    }
    default:
      return s.wrapped && s.wrapped->auxinfo
                 ? s.wrapped->auxinfo(s.wrapped, channel, id, data, size)
                 : -1;
  }
}

bool isSideFileId(std::uint32_t id) {
  return id >= BUFSTREAM_AUX_MD_OPEN_WRITE && id <= BUFSTREAM_AUX_MD_SIZE;
}

// The storage's data slots, once it stands in front of a main stream.
bufstream* wrappedOf(bufstream* bs) {
  MetadataState* s = stateOf(reinterpret_cast<metadata_storage*>(bs));
  return s ? s->wrapped : nullptr;
}
int split(bufstream* bs) {
  bufstream* m = wrappedOf(bs);
  return m && m->split ? m->split(m) : -1;
}
std::int32_t auxSlot(bufstream* bs, std::uint32_t offset, std::uint32_t id, void* data,
                     std::uint32_t size) {
  return auxinfo_metadata_file(reinterpret_cast<metadata_storage*>(bs), offset, id, data, size);
}
int doneSlot(bufstream* bs, int abort) {
  return done_metadata_file(reinterpret_cast<metadata_storage*>(bs), abort);
}
void freeSlot(bufstream* bs) {
  free_metadata_file(reinterpret_cast<metadata_storage*>(bs));
}

// The main stream's drive once the storage is in its chain: the drive installed before runs
// with the storage.
int filterDrive(bufstream* main) {
  auto* storage = static_cast<bufstream*>(main ? main->drive_chain : nullptr);
  if (!storage || !storage->drive) return 0;
  return reinterpret_cast<bufstream_drive_fn>(storage->drive)(storage);
}

// Closes the side files, empties them when asked, finishes the wrapped stream.
int finishStorage(MetadataState& s, int abort) {
  bool ok = true;
  for (File& f : s.files)
    if (f && std::fclose(f.release()) != 0) ok = false;
  if (s.emptyAtEnd) {
    struct stat st {};
    for (std::uint32_t c = 0; c < kChannels; ++c)
      if (::stat(s.sideName(c).c_str(), &st) == 0 && !emptySide(s, c)) ok = false;
  }
  if (s.wrapped && s.wrapped->done && s.wrapped->done(s.wrapped, abort) != 0) ok = false;
  return ok ? 0 : -1;
}

}  // namespace
}  // namespace quillion::bufstream_detail

using quillion::bufstream_detail::MetadataState;

extern "C" {

metadata_storage* new_metadata_file(const char* baseName) {
  using namespace quillion::bufstream_detail;
  if (!baseName || !*baseName) return nullptr;
  std::string base = baseName;
  if (base.size() > kMaxBaseName) return nullptr;
  auto* storage = new (std::nothrow) metadata_storage{};
  if (!storage) return nullptr;
  auto* state = new (std::nothrow) MetadataState;
  if (!state) {
    delete storage;
    return nullptr;
  }
  state->baseName = std::move(base);
  storage->stream.auxinfo = auxSlot;
  storage->stream.done = doneSlot;
  storage->stream.free = freeSlot;
  storage->stream.implementation = state;
  return storage;
}

int init_metadata_filter(metadata_storage* storage, bufstream* main) {
  using namespace quillion::bufstream_detail;
  MetadataState* s = stateOf(storage);
  if (!s || !main || s->wrapped) return -1;
  s->wrapped = main;
  storage->wrapped = main;
  bufstream& bs = storage->stream;
  passDataSlots<wrappedOf>(bs);
  bs.split = main->split ? split : nullptr;
  bs.flags = main->flags;
  bs.drive_chain = main->drive_chain;
  bs.drive = main->drive;
  main->drive_chain = &bs;
  main->drive = reinterpret_cast<void*>(filterDrive);
  return 0;
}

int32_t auxinfo_metadata_file(metadata_storage* storage, uint32_t channel, uint32_t id, void* data,
                              uint32_t size) {
  using namespace quillion::bufstream_detail;
  MetadataState* s = stateOf(storage);
  if (!s) return -1;
  if (isSideFileId(id) && channel >= kChannels) return -1;
  return sideFileOperation(*s, channel, id, data, size);
}

int done_metadata_file(metadata_storage* storage, int abort) {
  using namespace quillion::bufstream_detail;
  MetadataState* s = stateOf(storage);
  if (!s) return 0;
  const int result = finishStorage(*s, abort);
  delete s;
  storage->stream.implementation = nullptr;
  return result;
}

void free_metadata_file(metadata_storage* storage) {
  if (!storage) return;
  done_metadata_file(storage, 0);
  if (storage->wrapped && storage->wrapped->free) storage->wrapped->free(storage->wrapped);
  delete storage;
}

}  // extern "C"
