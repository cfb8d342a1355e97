// SPDX-License-Identifier: GPL-2.0-or-later
// Segment-list writer: records every part of a split output in a ".mzl" text file beside it,
// so that a reader can put the parts together again.
#include <cstdio>
#include <new>
#include <string>

#include "front_stream.h"

namespace quillion::bufstream_detail {
namespace {

constexpr std::uint32_t kNameBytes = 2048;
constexpr std::uint32_t kCreationNameBytes = 256;

// The list's name: the file name with its extension (from the last point of the name itself,
// never one in a folder) replaced by ".mzl", or ".mzl" appended.
std::string listNameFor(const std::string& file) {
  const std::size_t slash = file.rfind('/');
  const std::size_t dot = file.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
    return file.substr(0, dot) + ".mzl";
  return file + ".mzl";
}

// A part is listed by its name after the last folder separator of either kind.
const char* partNameOf(const char* path) {
  const char* name = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') name = p + 1;
  return name;
}

class MzlWriter final : public FrontState {
 public:
  MzlWriter(bufstream* main, std::string listName)
      : FrontState(main), listName_(std::move(listName)) {}

  std::int32_t auxInfo(std::uint32_t offset, std::uint32_t id, void* data,
                       std::uint32_t size) override {
    if (id != BUFSTREAM_AUX_SPLIT) return passOn(offset, id, data, size);
    const bool listed = recordPart();
    const std::int32_t result = passOn(offset, id, data, size);
    return listed ? result : -1;
  }
  int split() override {
    const bool listed = recordPart();
    const int result = FrontState::split();
    return listed ? result : -1;
  }
  int finish(int) override { return recordPart() && !failed_ ? 0 : -1; }

 private:
  // Appends the current part's line (the first part creates the list). A part whose count
  // or size the main stream cannot give is skipped; a list that cannot be written fails.
  bool recordPart() {
    std::uint32_t parts = 0;
    std::uint64_t bytes = 0;
    bufstream* m = main();
    if (!m->auxinfo || m->auxinfo(m, 0, BUFSTREAM_AUX_PART_COUNT, &parts, sizeof parts) != 0 ||
        !byteCountOf(m, &bytes))
      return true;
    std::FILE* list = std::fopen(listName_.c_str(), parts == 0 ? "w" : "a");
    if (!list) return fail();
    bool ok = parts != 0 || std::fputs("DZMP\n", list) >= 0;
    char name[kNameBytes] = {};
    if (m->auxinfo(m, 0, BUFSTREAM_AUX_FILE_NAME, name, sizeof name) == 0)
      ok = std::fprintf(list, "%s; %u\n", partNameOf(name), static_cast<unsigned>(bytes)) > 0 && ok;
    ok = std::fclose(list) == 0 && ok;
    return ok || fail();
  }
  bool fail() {
    failed_ = true;
    return false;
  }

  std::string listName_;
  bool failed_ = false;
};

int initMzl(bufstream* bs, bufstream* main, bufstream_msg_fn msg, bool owned) {
  if (!bs) return -1;
  if (!main) {
    tell(msg, "No main stream buffer .");
    return -1;
  }
  char name[kCreationNameBytes] = {};
  if (!main->auxinfo || main->auxinfo(main, 0, BUFSTREAM_AUX_FILE_NAME, name, sizeof name) != 0 ||
      !name[0])
    return -1;
  try {
    installFront(bs, std::make_unique<MzlWriter>(main, listNameFor(name)), owned);
  } catch (const std::bad_alloc&) {
    tell(msg, "Unable to allocate memory for open_bufstream_write_with_mzl.");
    return -1;
  }
  return 0;
}

}  // namespace
}  // namespace quillion::bufstream_detail

extern "C" {

bufstream* open_bufstream_write_with_mzl(bufstream* main, bufstream_msg_fn msg) {
  using namespace quillion::bufstream_detail;
  return openFront(msg, "Unable to allocate memory for open_bufstream_write_with_mzl.",
                   [&](bufstream* bs) { return initMzl(bs, main, msg, true); });
}

int init_bufstream_write_with_mzl(bufstream* bs, bufstream* main, bufstream_msg_fn msg) {
  return quillion::bufstream_detail::initMzl(bs, main, msg, false);
}

int close_bufstream_write_with_mzl(bufstream** bs, int abort) {
  return close_file_buf(bs, abort);
}

}  // extern "C"
