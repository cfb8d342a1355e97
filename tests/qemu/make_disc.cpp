// SPDX-License-Identifier: GPL-2.0-or-later
// Makes the data discs the QEMU guests read: a folder laid out as a content tree through the
// flat tree API, as the layout window builds one, and produced by our ISO9660 producer with
// a Joliet tree into an image file. The guests then compare what a real MMC implementation
// serves from that image with the image itself.
//
//   quillion_qemu_make_disc FOLDER VOLUME IMAGE [CODE]
//
// CODE is a data disc format (BP_SetDataDiscFormat): 512, ISO9660 with Joliet, when none is
// given; any other code is made by the producer the format registry has for it.
//
// Exit status 0 when every block was written and every file read in full; 1, with the
// reason on standard error, otherwise. A partial image is never left under IMAGE's name.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "DPMs/iso9660/dpm_fs_iso9660.h"
#include "DPMs/registry/file_system_formats.h"
#include "quillion/FS.h"
#include "quillion/clock.h"

namespace fs = std::filesystem;

namespace {

// Volume dates come from the engine's clock and record dates from the files' birth times,
// which nobody can set: both are pinned to one instant, so that an image is a function of
// its folder's names and bytes, and two preparations of one fixture give the same image.
constexpr std::chrono::seconds kFixedDate{1'700'000'000};

std::tm fixedDate() {
  const std::time_t seconds = kFixedDate.count();
  std::tm date{};
  ::localtime_r(&seconds, &date);
  return date;
}

struct TreeDeleter {
  void operator()(FS_Tree* tree) const { termTree(tree); }
};

bool fail(const std::string& what) {
  std::fprintf(stderr, "quillion_qemu_make_disc: %s\n", what.c_str());
  return false;
}

// Entries in name order, so that the layout does not depend on the order readdir gives.
bool addFolder(FS_Tree* tree, const fs::path& folder, FS_Node* parent) {
  std::vector<fs::path> entries;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) entries.push_back(entry.path());
  if (error) return fail(folder.string() + ": " + error.message());
  std::sort(entries.begin(), entries.end());
  for (const fs::path& path : entries) {
    FS_Node* node = initNode(path.c_str(), path.filename().c_str(), nullptr, false);
    if (node == nullptr || !IsValid(node)) {
      termNode(node);
      return fail(path.string() + ": not a file the layout can hold");
    }
    if (const EngineStatus status = AddTreeNode(tree, node, parent); status != kNoErr) {
      termNode(node);
      return fail(path.string() + ": refused by the layout (" + std::to_string(status) + ")");
    }
    const std::tm date = fixedDate();
    SetCreationDate(node, &date);
    SetModifiedDate(node, &date);
    if (IsFolderNode(node) && !addFolder(tree, path, node)) return false;
  }
  return true;
}

bool writeAll(int fd, const char* data, std::size_t bytes) {
  while (bytes > 0) {
    const ssize_t n = ::write(fd, data, bytes);
    if (n <= 0) return false;
    data += n;
    bytes -= static_cast<std::size_t>(n);
  }
  return true;
}

bool produce(DPM_FileSystem_Base& producer, const std::string& image) {
  std::uint16_t blockSize = 2048;
  const std::uint32_t blocks = producer.PrepareAll(&blockSize, nullptr, nullptr);
  if (blocks == 0) return fail("layout refused: " + producer.LayoutProblem());
  if (blockSize != 2048)
    return fail("block size " + std::to_string(blockSize) + " instead of 2048");

  const std::string partial = image + ".partial";
  const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return fail(partial + ": cannot create");
  // An odd chunk size, so that a block count the producer gets wrong at a chunk's edge shows.
  constexpr std::uint32_t kChunkBlocks = 45;
  std::vector<char> buffer(std::size_t{kChunkBlocks} * blockSize);
  std::uint32_t done = 0;
  bool ok = true;
  while (ok && done < blocks) {
    std::uint32_t got = 0;
    const std::uint32_t want = std::min(kChunkBlocks, blocks - done);
    const EngineStatus status =
        producer.NextBlocks(buffer.data(), static_cast<std::uint32_t>(buffer.size()), want, &got);
    if (status != kNoErr || got == 0 || got > want) {
      ok = fail("NextBlocks at block " + std::to_string(done) + ": status " +
                std::to_string(status) + ", " + std::to_string(got) + " blocks");
    } else if (!writeAll(fd, buffer.data(), std::size_t{got} * blockSize)) {
      ok = fail(partial + ": write failed");
    }
    done += got;
  }
  if (::close(fd) != 0 && ok) ok = fail(partial + ": close failed");
  for (const DPM_MissingData& missing : producer.MissingData())
    ok = fail("file data missing: " + missing.path + " (" + std::to_string(missing.readBytes) +
              " of " + std::to_string(missing.expectedBytes) + " bytes)");
  if (ok && producer.DataResult() != kNoErr) ok = fail("the producer reports missing data");
  if (ok && ::rename(partial.c_str(), image.c_str()) != 0) ok = fail(image + ": cannot rename");
  if (!ok) ::unlink(partial.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: %s FOLDER VOLUME IMAGE [CODE]\n", argv[0]);
    return 2;
  }
  quillion::VirtualClock clock{quillion::Clock::WallTime(kFixedDate)};
  const quillion::ScopedClockOverride useClock(clock);

  const std::unique_ptr<FS_Tree, TreeDeleter> tree(initTree(nullptr));
  if (!tree || SetTreetitle(tree.get(), argv[2]) != kNoErr) {
    fail(std::string("cannot title a tree \"") + argv[2] + "\"");
    return 1;
  }
  if (!addFolder(tree.get(), argv[1], GetRootTreeNode(tree.get()))) return 1;

  if (argc == 5 && std::strcmp(argv[4], "512") != 0) {
    const quillion::FileSystemFormat* format = quillion::findFileSystemFormat(
        static_cast<std::uint32_t>(std::strtoul(argv[4], nullptr, 10)));
    if (format == nullptr) {
      fail(std::string("no producer for format ") + argv[4]);
      return 1;
    }
    const auto producer = format->make(quillion::FileSystemRequest{tree.get(), 0, true, false});
    return produce(*producer, argv[3]) ? 0 : 1;
  }
  // A plain data disc: version suffixes, no Apple extensions, no XA fields.
  DPM_FS_ISO9660 producer(tree.get(), DPM_FS_ISO9660::kJoliet, 0, false, true, false);
  return produce(producer, argv[3]) ? 0 : 1;
}
