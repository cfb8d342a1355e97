// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/base/fork_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "platform/file/catalog_info.h"
#include "platform/file/xattr.h"
#include "tree/fs_file_wrapper.h"
#include "tree/fs_node.h"

DPM_ForkReader::DPM_ForkReader() = default;
DPM_ForkReader::~DPM_ForkReader() = default;

void DPM_ForkReader::rewind() {
  next_ = 0;
  resourceDone_ = false;
  entryRecorded_ = false;
  fork_ = Fork();
}

void DPM_ForkReader::clear() {
  rewind();
  missing_.clear();
}

// The table is walked by position rather than emptied, so that it still describes the
// whole data area afterwards (the verify pass asks for it after the burn).
bool DPM_ForkReader::startNextFork(const FS_FileLocTable& table) {
  while (next_ < table.entries.size()) {
    const FS_FileLoc& entry = table.entries[next_];
    std::uint32_t blocks = 0;
    bool resource = false;
    if (!resourceDone_) {
      resourceDone_ = true;
      checkEntry(table, entry);
      blocks = entry.rsrcBlocks;
      resource = true;
    } else {
      resourceDone_ = false;
      ++next_;
      blocks = entry.dataBlocks;
    }
    if (blocks == 0 || entry.node == nullptr) continue;
    fork_ = Fork();
    fork_.node = entry.node;
    fork_.resource = resource;
    fork_.allotted = std::uint64_t{blocks} * table.blockSize;
    const std::uint64_t size = resource ? entry.node->rsrcActualSize : entry.node->dataActualSize;
    fork_.expected = std::min(size, fork_.allotted);
    fork_.active = true;
    open(fork_);
    return true;
  }
  return false;
}

// The node's own record stands in for the catalog information, which was read when the
// layout was made; only the fork itself needs opening now.
void DPM_ForkReader::open(Fork& fork) {
  if (fork.expected == 0) return;
  quillion::CatalogInfo known;
  known.dataLogicalSize = fork.node->dataActualSize;
  known.rsrcLogicalSize = fork.node->rsrcActualSize;
  auto file = std::make_unique<FS_FileWrapper>(&fork.node->fsRef, &known);
  if (!file->IsValid() || file->Open(kFSReadPermission, !fork.resource) != kNoErr) {
    recordShortfall(fork);
    return;
  }
  fork.file = std::move(file);
}

void DPM_ForkReader::checkEntry(const FS_FileLocTable& table, const FS_FileLoc& entry) {
  entryRecorded_ = false;
  FS_Node* node = entry.node;
  if (node == nullptr || node->IsISO9660ImportItem()) return;
  DPM_MissingData m;
  m.node = node;
  m.path = node->GetFullPathName();
  m.expectedBytes = node->dataActualSize;
  // One statx per file; the resource fork's size only where the table carries forks.
  quillion::CatalogInfo now;
  bool found = node->IsValid() && !node->fsRef.empty() &&
               quillion::readEntryState(node->fsRef, now) == kNoErr;
  if (found && table.rsrcIncluded)
    found = quillion::xattrSize(node->fsRef.path(), quillion::kResourceForkXattr,
                                now.rsrcLogicalSize) == kNoErr;
  const bool plain = found && (node->HasFlag(kFSNodeSymbolic) || S_ISREG(now.mode));
  if (plain) {
    // A file that shrank comes out short with zeros after it and is recorded when its
    // read falls short.
    const bool grew = now.dataLogicalSize > node->dataActualSize ||
                      (table.rsrcIncluded && now.rsrcLogicalSize > node->rsrcActualSize);
    const bool redated = entry.measured && (now.contentModDate.seconds != entry.modSeconds ||
                                            now.contentModDate.nanoseconds != entry.modNanoseconds);
    const bool shrank = now.dataLogicalSize < node->dataActualSize ||
                        (table.rsrcIncluded && now.rsrcLogicalSize < node->rsrcActualSize);
    if (shrank || (!grew && !redated)) return;
    m.changed = true;
    m.readBytes = node->dataActualSize;
    m.currentBytes = now.dataLogicalSize;
  }
  missing_.push_back(std::move(m));
  entryRecorded_ = true;
}

void DPM_ForkReader::recordShortfall(const Fork& fork) {
  if (entryRecorded_) return;  // the file's own record says it already
  DPM_MissingData m;
  m.node = fork.node;
  m.path = fork.node->GetFullPathName();
  m.resourceFork = fork.resource;
  m.expectedBytes = fork.expected;
  m.readBytes = fork.produced;
  missing_.push_back(std::move(m));
}

EngineStatus DPM_ForkReader::fill(const FS_FileLocTable& table, std::uint8_t* buffer,
                                  std::uint32_t bytes, std::uint32_t& gotBytes) {
  std::uint32_t filled = 0;
  while (filled < bytes) {
    if (!fork_.active && !startNextFork(table)) {
      gotBytes = filled;
      return kErrProducerTableEnd;
    }
    std::uint8_t* at = buffer + filled;
    std::uint32_t room = bytes - filled;
    if (fork_.file && fork_.produced < fork_.expected) {
      const auto want = static_cast<std::uint32_t>(
          std::min<std::uint64_t>(room, fork_.expected - fork_.produced));
      const std::uint32_t got = fork_.file->Read(at, want);
      fork_.produced += got;
      filled += got;
      at += got;
      room -= got;
      if (got < want) recordShortfall(fork_);
      if (got < want || fork_.produced == fork_.expected) fork_.file.reset();
    }
    const auto zeros =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(room, fork_.allotted - fork_.produced));
    std::memset(at, 0, zeros);
    fork_.produced += zeros;
    filled += zeros;
    if (fork_.produced == fork_.allotted) fork_ = Fork();
  }
  gotBytes = filled;
  return kNoErr;
}
