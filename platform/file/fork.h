// SPDX-License-Identifier: GPL-2.0-or-later
// Reading one fork of a file. The data fork is the file itself (for a symbolic link taken
// as itself, the text of the link, as its catalog size says); the resource fork is the
// user attribute that holds it and is read whole, since attributes are small.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/file/file_ref.h"
#include "quillion/status.h"

namespace quillion {

enum class ForkKind { data, resource };

enum class SeekFrom : std::uint8_t { start = 0, current = 1, end = 2 };

class Fork {
 public:
  Fork(const Fork&) = delete;
  Fork& operator=(const Fork&) = delete;
  ~Fork();

  // kErrFileAccess when the fork cannot be opened. A special file (device, pipe, socket)
  // has no data fork that could be read without blocking or harm: refused too.
  [[nodiscard]] static EngineStatus open(const FileRef& ref, ForkKind kind,
                                         std::unique_ptr<Fork>& out);

  // Reads until `length` bytes are read, the end of the fork or an error; returns the
  // count. A short count before the end means the fork could not be read further.
  std::size_t read(void* buffer, std::size_t length);

  // The new position, or -1 when it would lie before the start (the position is kept).
  std::int64_t seek(std::int64_t offset, SeekFrom from);

  std::uint64_t size() const;
  std::int64_t position() const { return position_; }

 private:
  Fork() = default;
  int fd_ = -1;                       // the data fork of a regular file
  std::vector<std::uint8_t> memory_;  // a resource fork or a link's text
  std::int64_t position_ = 0;
};

}  // namespace quillion
