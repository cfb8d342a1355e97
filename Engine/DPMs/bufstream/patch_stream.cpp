// SPDX-License-Identifier: GPL-2.0-or-later
// Patch stream: byte patches for places of the output that are known only later (sizes,
// counts, addresses) are queued and written into the finished file when the stream closes.
// Every failure to open, position or write is reported through done.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "front_stream.h"

// The record keeps its field order with a native pointer; its size is sizeof, not 16.
static_assert(offsetof(bufstream_patch, data) == 8 &&
              offsetof(bufstream_patch, length) == 8 + sizeof(void*));

namespace quillion::bufstream_detail {
namespace {

constexpr std::uint32_t kNameBytes = 2048;

struct Patch {
  std::uint64_t offset;
  std::vector<std::uint8_t> bytes;
};

bool writeAt(int fd, const std::uint8_t* p, std::size_t n, std::uint64_t offset) {
  while (n > 0) {
    const ssize_t wrote = ::pwrite(fd, p, n, static_cast<off_t>(offset));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    p += wrote;
    n -= static_cast<std::size_t>(wrote);
    offset += static_cast<std::uint64_t>(wrote);
  }
  return true;
}

class PatchStream final : public FrontState {
 public:
  PatchStream(bufstream* main, std::string file) : FrontState(main), file_(std::move(file)) {}

  std::int32_t auxInfo(std::uint32_t offset, std::uint32_t id, void* data,
                       std::uint32_t size) override {
    if (id != BUFSTREAM_AUX_PATCH || size != sizeof(bufstream_patch))
      return passOn(offset, id, data, size);
    if (!data) return -1;
    const auto* patch = static_cast<const bufstream_patch*>(data);
    if (patch->length > 0 && !patch->data) return -1;
    if (patch->offset > static_cast<std::uint64_t>(INT64_MAX) - patch->length) return -1;
    try {
      patches_.push_back(
          {patch->offset, std::vector<std::uint8_t>(patch->data, patch->data + patch->length)});
    } catch (const std::bad_alloc&) {
      failed_ = true;
      return -1;
    }
    return 0;
  }

  // The patches go in the order received and stop at the first one that fails.
  int finish(int abort) override {
    if (abort || patches_.empty()) return failed_ && !abort ? -1 : 0;
    if (file_.empty()) return -1;  // nowhere to put them
    const int fd = ::open(file_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return -1;
    bool ok = !failed_;
    for (const Patch& p : patches_)
      if (!writeAt(fd, p.bytes.data(), p.bytes.size(), p.offset)) {
        ok = false;
        break;
      }
    if (::close(fd) != 0) ok = false;
    return ok ? 0 : -1;
  }

 private:
  std::string file_;
  std::vector<Patch> patches_;
  bool failed_ = false;
};

bufstream* openPatch(bufstream* main, bufstream_msg_fn msg, bool withFile) {
  if (!main) {
    tell(msg, "No main stream buffer .");
    return nullptr;
  }
  char name[kNameBytes] = {};
  if (withFile &&
      (!main->auxinfo || main->auxinfo(main, 0, BUFSTREAM_AUX_FILE_NAME, name, sizeof name) != 0 ||
       !name[0])) {
    tell(msg, "Unable to get filename from main bufstream.");
    return nullptr;
  }
  return openFront(msg, "Unable to allocate memory for bseek_init_file_buf.", [&](bufstream* bs) {
    try {
      installFront(bs, std::make_unique<PatchStream>(main, name), true);
    } catch (const std::bad_alloc&) {
      tell(msg, "Unable to allocate memory for bseek_init_file_buf.");
      return -1;
    }
    return 0;
  });
}

}  // namespace
}  // namespace quillion::bufstream_detail

extern "C" {

bufstream* bseek_open_file_buf(bufstream* main, bufstream_msg_fn msg) {
  return quillion::bufstream_detail::openPatch(main, msg, true);
}

bufstream* bseek_open_fifo_buf(bufstream* main, bufstream_msg_fn msg) {
  return quillion::bufstream_detail::openPatch(main, msg, false);
}

int bseek_close_file_buf(bufstream** bs, int abort) {
  return close_file_buf(bs, abort);
}

int bseek_close_fifo_buf(bufstream** bs, int abort) {
  return close_file_buf(bs, abort);
}

}  // extern "C"
