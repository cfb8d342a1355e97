// SPDX-License-Identifier: GPL-2.0-or-later
// Index writer: the video and audio index records of a multiplexed stream go to two index
// streams. A record leaves only once the main stream has passed the data of the record after
// it, so a reader of the index never finds an entry whose data is not in the file yet.
#include <cstring>
#include <new>
#include <vector>

#include "front_stream.h"

namespace quillion::bufstream_detail {
namespace {

constexpr std::size_t kVideoRecords = 300;
constexpr std::size_t kAudioRecords = 420;
constexpr std::uint32_t kVideoRecordBytes = 32;
constexpr std::uint32_t kAudioRecordBytes = 20;

// Pending records of one kind, oldest first.
class Ring {
 public:
  Ring(bufstream* index, std::uint32_t id, std::uint32_t recordBytes, std::size_t capacity,
       bool video)
      : index_(index), id_(id), recordBytes_(recordBytes), capacity_(capacity), video_(video) {}

  bool allocate() {
    try {
      records_.resize(recordBytes_ * capacity_);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }
  bufstream* index() const { return index_; }

  // Queues a record; a full ring writes its oldest out at once. False when a write failed.
  bool add(const std::uint8_t* record) {
    std::memcpy(slot(count_), record, recordBytes_);
    ++count_;
    return count_ < capacity_ || writeOldest();
  }
  // Writes out records whose successor's data the main stream has passed (`mainPosition`);
  // one always stays. For video, a successor shown before the oldest (a reordered picture)
  // does not count: the one after it decides.
  bool release(std::uint64_t mainPosition) {
    bool ok = true;
    while (count_ > 1) {
      std::size_t next = 1;
      if (video_ && position(1) < position(0)) next = 2;
      if (next >= count_ || position(next) >= mainPosition) break;
      ok = writeOldest() && ok;
    }
    return ok;
  }
  bool flush() {
    bool ok = true;
    while (count_ > 0) ok = writeOldest() && ok;
    read_ = 0;
    return ok;
  }

 private:
  std::uint8_t* slot(std::size_t i) {
    return records_.data() + ((read_ + i) % capacity_) * recordBytes_;
  }
  std::uint64_t position(std::size_t i) { return leadingPosition(slot(i)); }
  // The record leaves (written or not): a refused write is reported, never retried.
  bool writeOldest() {
    const bool ok = index_->copybytes(index_, slot(0), recordBytes_) == recordBytes_;
    if (index_->auxinfo) index_->auxinfo(index_, 0, id_, nullptr, 0);
    read_ = (read_ + 1) % capacity_;
    --count_;
    return ok;
  }

  bufstream* index_;
  std::uint32_t id_;
  std::uint32_t recordBytes_;
  std::size_t capacity_;
  bool video_;
  std::vector<std::uint8_t> records_;
  std::size_t read_ = 0;
  std::size_t count_ = 0;
};

class IndexWriter final : public FrontState {
 public:
  IndexWriter(bufstream* main, bufstream* audioIndex, bufstream* videoIndex)
      : FrontState(main),
        video_(videoIndex, BUFSTREAM_AUX_VIDEO_INDEX_ENTRY, kVideoRecordBytes, kVideoRecords, true),
        audio_(audioIndex, BUFSTREAM_AUX_AUDIO_INDEX_ENTRY, kAudioRecordBytes, kAudioRecords,
               false) {}

  bool allocate(bufstream_msg_fn msg) {
    if (video_.index() && !video_.allocate()) {
      tell(msg, "Unable to allocate memory for vau buffer");
      return false;
    }
    if (audio_.index() && !audio_.allocate()) {
      tell(msg, "Unable to allocate memory for aau buffer");
      return false;
    }
    return true;
  }

  std::int32_t auxInfo(std::uint32_t offset, std::uint32_t id, void* data,
                       std::uint32_t size) override {
    switch (id) {
      case BUFSTREAM_AUX_VIDEO_INDEX_HEADER:
        return header(video_.index(), id, data, size);
      case BUFSTREAM_AUX_AUDIO_INDEX_HEADER:
        return header(audio_.index(), id, data, size);
      case BUFSTREAM_AUX_VIDEO_INDEX_ENTRY:
        return record(video_, kVideoRecordBytes, data, size);
      case BUFSTREAM_AUX_AUDIO_INDEX_ENTRY:
        return record(audio_, kAudioRecordBytes, data, size);
      case BUFSTREAM_AUX_FLUSH: {
        std::int32_t result = passOn(offset, id, data, size);
        for (bufstream* index : {video_.index(), audio_.index()})
          if (index && index->auxinfo && index->auxinfo(index, 0, id, nullptr, 0) != 0) result = -1;
        return result;
      }
      case BUFSTREAM_AUX_SPLIT: {
        bool ok = true;
        for (Ring* ring : {&video_, &audio_}) {
          bufstream* index = ring->index();
          if (!index) continue;
          ok = ring->flush() && ok;
          if (index->auxinfo && index->auxinfo(index, 0, id, nullptr, 0) != 0) ok = false;
        }
        failed_ = failed_ || !ok;
        const std::int32_t result = passOn(offset, id, data, size);
        return ok ? result : -1;
      }
      default:
        return passOn(offset, id, data, size);
    }
  }

  int finish(int abort) override {
    if (!abort) {
      if (video_.index() && !video_.flush()) failed_ = true;
      if (audio_.index() && !audio_.flush()) failed_ = true;
    }
    return failed_ ? -1 : 0;
  }

 private:
  std::int32_t header(bufstream* index, std::uint32_t id, void* data, std::uint32_t size) {
    if (!index) return 0;
    if (!data && size > 0) return -1;
    const bool ok = index->copybytes(index, static_cast<std::uint8_t*>(data), size) == size;
    if (index->auxinfo) index->auxinfo(index, 0, id, nullptr, 0);
    return note(ok);
  }

  std::int32_t record(Ring& ring, std::uint32_t bytes, void* data, std::uint32_t size) {
    if (!ring.index()) return 0;
    if (!data || size < bytes) return -1;
    bool ok = ring.add(static_cast<const std::uint8_t*>(data));
    std::uint64_t position = 0;
    if (byteCountOf(main(), &position)) ok = ring.release(position) && ok;
    return note(ok);
  }

  // A refused index write fails the call that caused it and, later, done.
  std::int32_t note(bool ok) {
    if (!ok) failed_ = true;
    return ok ? 0 : -1;
  }

  Ring video_;
  Ring audio_;
  bool failed_ = false;
};

int initIndex(bufstream* bs, bufstream* main, bufstream* audioIndex, bufstream* videoIndex,
              bufstream_msg_fn msg, bool owned) {
  if (!bs) return -1;
  if (!main) {
    tell(msg, "No main stream buffer .");
    return -1;
  }
  std::unique_ptr<IndexWriter> state(new (std::nothrow) IndexWriter(main, audioIndex, videoIndex));
  if (!state) {
    tell(msg, "Unable to allocate memory for open_bufstream_write_with_index.");
    return -1;
  }
  if (!state->allocate(msg)) return -1;
  installFront(bs, std::move(state), owned);
  return 0;
}

}  // namespace
}  // namespace quillion::bufstream_detail

extern "C" {

bufstream* open_bufstream_write_with_index(bufstream* main, bufstream* audioIndex,
                                           bufstream* videoIndex, bufstream_msg_fn msg) {
  using namespace quillion::bufstream_detail;
  if (!main) {
    tell(msg, "No main stream buffer .");
    return nullptr;
  }
  return openFront(
      msg, "Unable to allocate memory for open_bufstream_write_with_index.",
      [&](bufstream* bs) { return initIndex(bs, main, audioIndex, videoIndex, msg, true); });
}

int init_bufstream_write_with_index(bufstream* bs, bufstream* main, bufstream* audioIndex,
                                    bufstream* videoIndex, bufstream_msg_fn msg) {
  return quillion::bufstream_detail::initIndex(bs, main, audioIndex, videoIndex, msg, false);
}

int close_bufstream_write_with_index(bufstream** bs, int abort) {
  return close_file_buf(bs, abort);
}

}  // extern "C"
