// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/udf/dpm_udf.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <new>
#include <system_error>

#include "DPMs/iso9660/dpm_fs_iso9660.h"
#include "DPMs/udf/dvd_video_order.h"
#include "quillion/clock.h"
#include "tree/fs_file_wrapper.h"
#include "tree/fs_node.h"
#include "tree/fs_tree.h"

using namespace quillion::udf;

namespace {

constexpr std::uint32_t kMinimumBlocks = 512;
constexpr std::uint32_t kContinuedPartitionStart = 257;
constexpr std::uint32_t kPlainHeaderSectors = 5;
// The ISO9660 part of a bridge keeps sectors 19-256 for the UDF structures.
constexpr std::uint32_t kIsoReservedSectors = 240;
constexpr std::uint32_t kIsoTablesSector = 257;
constexpr std::uint32_t kDvdAlignSectors = 16;
constexpr const char* kUntitled = "Untitled";

std::uint32_t roundUp(std::uint32_t value, std::uint32_t step) {
  return (value + step - 1) / step * step;
}

std::vector<std::uint8_t> bigEndianUnits(const CS_UniStr& units) {
  std::vector<std::uint8_t> out;
  for (std::uint16_t i = 0; i < units.length; ++i) {
    out.push_back(static_cast<std::uint8_t>(units.unicode[i] >> 8));
    out.push_back(static_cast<std::uint8_t>(units.unicode[i]));
  }
  return out;
}

// One byte per character when every character fits in 8 bits.
bool eightBit(const CS_UniStr& units, std::vector<std::uint8_t>& out) {
  out.clear();
  for (std::uint16_t i = 0; i < units.length; ++i) {
    if (units.unicode[i] > 0xFF) return false;
    out.push_back(static_cast<std::uint8_t>(units.unicode[i]));
  }
  return true;
}

// Writes `bytes` to a fresh file made with mkstemp in `folder`; empty path on failure.
std::filesystem::path writeTemporary(const std::filesystem::path& folder,
                                     const std::vector<std::uint8_t>& bytes) {
  std::string pattern = (folder / "quillion-udf-XXXXXX").string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) return {};
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const bool closed = ::close(fd) == 0;
  if (done != bytes.size() || !closed) {
    ::unlink(pattern.c_str());
    return {};
  }
  return pattern;
}

}  // namespace

DPM_UDF::DPM_UDF(FS_Tree* contentTree, std::uint32_t startSector,
                 std::uint32_t partitionStartSector, std::uint16_t mode)
    : DPM_UDF(contentTree, startSector, partitionStartSector, mode, Options{}) {}

DPM_UDF::DPM_UDF(FS_Tree* contentTree, std::uint32_t startSector,
                 std::uint32_t partitionStartSector, std::uint16_t mode, Options producerOptions)
    : DPM_FileSystem_Base(contentTree),
      start(startSector),
      partitionStart(startSector != 0 ? kContinuedPartitionStart : partitionStartSector),
      revision(mode == kModeUDF150 ? 0x0150 : 0x0102),
      dvdVideo(mode == kModeDVDVideo),
      options(std::move(producerOptions)) {
  blockSize = kSectorBytes;
  headerSectorsH = dvdVideo ? 1 : kPlainHeaderSectors;
  // A multiple of 2048 that a 30-bit extent length holds.
  options.maxExtentBytes = std::clamp<std::uint64_t>(
      options.maxExtentBytes / kSectorBytes * kSectorBytes, kSectorBytes, 0x3FFFF800);
  headersGenerated = true;
  (void)DPM_UDF::Init();
}

DPM_UDF::~DPM_UDF() {
  DPM_UDF::Term();
}

EngineStatus DPM_UDF::Init() {
  // The recording time is taken once, from the engine's clock, so that a fixed tree and a
  // fixed clock give the same bytes.
  const auto now = quillion::engineClock().wallNow();
  const std::time_t seconds =
      std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
  ::localtime_r(&seconds, &recordedAt);
  recordedOffsetMinutes = static_cast<std::int32_t>(recordedAt.tm_gmtoff / 60);
  std::uint32_t encoding = options.nameEncoding;
  converter.reset(CS_UC_Init(&encoding));
  return converter ? kNoErr : kErrOutOfMemory;
}

void DPM_UDF::Term() {
  release();
  converter.reset();
}

void DPM_UDF::release() {
  for (SubstituteNode& s : substitutes) {
    std::error_code ignored;
    std::filesystem::remove(s.file, ignored);
  }
  substitutes.clear();
  std::vector<std::uint8_t>().swap(header);
  headerBlocks.reset();
  std::vector<std::uint8_t>().swap(anchor);
  std::vector<std::uint8_t>().swap(isoTables);
  fileLocTable.clear();
  forkReader.rewind();
  plan = UdfPartitionPlan{};
  prepared = false;
}

EngineStatus DPM_UDF::GenerateStuffsForHeaders() {
  headersGenerated = true;
  return kNoErr;
}

EngineStatus DPM_UDF::nameOf(const std::string& title, OstaName& out) {
  // Titles show a file name's ':' as '/' (see FS_Node); '/' separates folders for every
  // UDF reader, so the name goes to disc as the file system had it.
  std::string name = title;
  std::replace(name.begin(), name.end(), '/', ':');
  CS_UniStr units;
  if (CS_UC_To_UDF_UnicodeStr(converter.get(), name.c_str(), &units) != kNoErr || units.length == 0)
    return kErrProducerName;
  // DVD-Video players read 8-bit names; plain mode writes every name in 16 bits.
  if (dvdVideo && eightBit(units, out.bytes)) {
    out.compression = 8;
    return kNoErr;
  }
  out.compression = 16;
  out.bytes = bigEndianUnits(units);
  return kNoErr;
}

EngineStatus DPM_UDF::checkFiles() {
  for (const FS_FileLoc& entry : fileLocTable.entries) {
    if (!fileExtentsFit(entry.node->dataActualSize, options.maxExtentBytes, dvdVideo))
      return refuse(kErrProducerTooManyFiles,
                    "A file is too large for one UDF file entry: " + entry.node->GetFullPathName());
  }
  return kNoErr;
}

EngineStatus DPM_UDF::patchNavigation() {
  const auto sorted = dvdVideoOrder(fileLocTable);
  // Without a backup file before every IFO and VOB file this is not a DVD-Video folder as
  // players know it: the files keep name order and their contents.
  if (!sorted) return kNoErr;
  applyOrder(fileLocTable, *sorted);
  const NavigationReader read = [](const FS_FileLoc& entry, std::vector<std::uint8_t>& out) {
    FS_FileWrapper file(entry.node->GetFullPathName().c_str(), false);
    const std::uint64_t size = entry.node->dataActualSize;
    out.assign(size, 0);
    if (file.Open(kFSReadPermission, true) != kNoErr) return kErrFileAccess;
    const std::uint32_t got = file.Read(out.data(), static_cast<std::uint32_t>(size));
    (void)file.Close();
    return got == size ? kNoErr : kErrFileAccess;
  };
  std::vector<NavigationPatch> patches;
  if (const EngineStatus s = planNavigationPatches(fileLocTable, read, patches, layoutProblem);
      s != kNoErr)
    return s;
  const std::filesystem::path folder = options.temporaryFolder.empty()
                                           ? std::filesystem::temp_directory_path()
                                           : options.temporaryFolder;
  for (NavigationPatch& patch : patches) {
    FS_Node* original = fileLocTable.entries[patch.entries.front()].node;
    const std::filesystem::path file = writeTemporary(folder, patch.contents);
    if (file.empty())
      return refuse(kErrFileAccess, "The patched copy of " + original->GetFullPathName() +
                                        " cannot be written in " + folder.string());
    std::unique_ptr<FS_Node> node(FS_Node::MakeForPath(file.c_str(), patch.title, nullptr, false));
    FS_Node* made = node.get();
    substitutes.push_back(SubstituteNode{std::move(node), file});
    if (made == nullptr || !made->IsValid() || made->dataActualSize != patch.contents.size())
      return refuse(kErrFileAccess,
                    "The patched copy of " + original->GetFullPathName() + " cannot be read back");
    for (const std::uint32_t index : patch.entries) {
      fileLocTable.entries[index].node = made;
      fileLocTable.entries[index].measured = false;
    }
  }
  return kNoErr;
}

EngineStatus DPM_UDF::prepareDvdVideo(std::uint16_t* requestedBlockSize, DPM_ProgressProc progress,
                                      void* userData) {
  auto iso =
      std::make_unique<DPM_FS_ISO9660>(tree, DPM_FS_ISO9660::kUDFBridge, 0, false, true, false);
  iso->Hybrid(true);
  if (const EngineStatus s = iso->GenerateStuffsForHeaders(); s != kNoErr)
    return refuse(s, "The ISO9660 part cannot be laid out: " + iso->LayoutProblem());
  const std::uint32_t isoSectors = iso->GetISO9660HeaderSize() / kSectorBytes;
  if (isoSectors <= kIsoReservedSectors + 3)
    return refuse(kErrProducerHeaderSize, "The ISO9660 part has no tables");
  headerSectorsH = isoSectors - kIsoReservedSectors;
  partitionSectors = roundUp(headerSectorsH + plan.blocks, kDvdAlignSectors);
  iso->SetFileLocTable(&fileLocTable);
  iso->SetDataAreaOffset((256 + partitionSectors) * kSectorBytes);
  if (iso->PrepareAll(requestedBlockSize, progress, userData) == 0)
    return refuse(kErrProducerTooManyFiles,
                  "The ISO9660 part cannot be prepared: " + iso->LayoutProblem());
  const std::uint8_t* isoHeader = iso->HeaderBuffer();
  // Its three volume descriptors go to sectors 16-18, its tables to sectors 257 on.
  header.assign(std::size_t{kHeaderSectors} * kSectorBytes, 0);
  std::memcpy(header.data() + 16 * kSectorBytes, isoHeader, 3 * kSectorBytes);
  isoTables.assign(isoHeader + std::size_t{kIsoTablesSector - 16} * kSectorBytes,
                   isoHeader + std::size_t{isoSectors} * kSectorBytes);
  return kNoErr;
}

quillion::udf::UdfFilePlace DPM_UDF::locate(const FS_Node& node) const {
  UdfFilePlace place;
  place.bytes = node.dataActualSize;
  if (node.IsISO9660ImportItem()) {
    place.found = true;
    place.block = node.importDataLBA - partitionStart;
    return place;
  }
  const auto it = fileLocTable.index.find(&node);
  if (it == fileLocTable.index.end()) return place;
  const FS_FileLoc& entry = fileLocTable.entries[it->second];
  place.found = true;
  place.block = start + 256 + partitionSectors + entry.dataStart - partitionStart;
  return place;
}

void DPM_UDF::fillFacts() {
  facts = UdfVolumeFacts{};
  facts.start = start;
  facts.revision = revision;
  facts.dvdVideo = dvdVideo;
  const char* treeTitle = tree->GetTreeTitle();
  const std::string title = treeTitle != nullptr && *treeTitle != '\0' ? treeTitle : kUntitled;
  if (nameOf(title, facts.title) != kNoErr) (void)nameOf(kUntitled, facts.title);
  CS_UniStr units;
  if (CS_UC_To_UDF_UnicodeStr(converter.get(), title.c_str(), &units) == kNoErr &&
      eightBit(units, facts.volumeSet.bytes))
    facts.volumeSet.compression = 8;
  else
    facts.volumeSet = facts.title;
  char dChars[33] = {};
  CS_To_D_Chars_Set(title.c_str(), dChars, sizeof dChars);
  facts.isoTitle = dChars;
  LocalTimeToTimeStamp(facts.recorded, recordedAt, recordedOffsetMinutes);
  facts.now = recordedAt;
  facts.gmtOffsetQuarters = static_cast<std::int8_t>(recordedOffsetMinutes / 15);
  facts.partitionStart = partitionStart;
  facts.fileSetBlock = start + 256 + headerSectorsH - partitionStart;
  std::uint32_t folders = 0, files = 0;
  (void)tree->TreeInfo(&folders, &files, nullptr, nullptr, true);
  facts.folders = folders;
  facts.files = files;
}

std::uint32_t DPM_UDF::PrepareAll(std::uint16_t* requestedBlockSize, DPM_ProgressProc progress,
                                  void* userData) {
  prepareStatus = prepare(requestedBlockSize, progress, userData);
  if (prepareStatus == kNoErr) return totalBlocks;
  release();
  return 0;
}

EngineStatus DPM_UDF::prepare(std::uint16_t* requestedBlockSize, DPM_ProgressProc progress,
                              void* userData) {
  release();
  layoutProblem.clear();
  if (!converter) {
    return refuse(kErrOutOfMemory, "No converter for UDF names");
  }
  if (requestedBlockSize == nullptr || tree == nullptr || tree->Root() == nullptr) {
    return refuse(kErrProducerNoSource, "There is no layout to write");
  }
  // Mode 2 sectors come from wrapping the producer, as for every ISO9660 volume.
  if (*requestedBlockSize != 0 && *requestedBlockSize != kSectorBytes) {
    return refuse(kErrBadArgument, "UDF data is produced in blocks of 2048 bytes");
  }
  // The ISO9660 part of a DVD-Video image is laid out from sector 0; a later session would
  // give it wrong sectors, and DVD-Video discs have a single session.
  if (dvdVideo && start != 0) {
    return refuse(kErrBadArgument, "DVD-Video order is only written from the disc's first sector");
  }
  std::uint16_t size = kSectorBytes;
  try {
    if (tree->GenerateFileLocTable(kSectorBytes, &fileLocTable, false) != kNoErr) {
      return refuse(kErrProducerTooManyFiles, "The files of the layout do not fit in one volume");
    }
    if (const EngineStatus s = checkFiles(); s != kNoErr) return s;
    if (dvdVideo)
      if (const EngineStatus s = patchNavigation(); s != kNoErr) return s;
    const UdfNamer namer = [this](const std::string& title, OstaName& out) {
      return nameOf(title, out);
    };
    if (const EngineStatus s =
            calculatePartitionHeaderSize(*tree->Root(), namer, !dvdVideo, plan, layoutProblem);
        s != kNoErr)
      return s;
    if (dvdVideo) {
      if (const EngineStatus s = prepareDvdVideo(&size, progress, userData); s != kNoErr) return s;
    } else {
      headerSectorsH = kPlainHeaderSectors;
      partitionSectors = plan.blocks + headerSectorsH;
      header.assign(std::size_t{kHeaderSectors} * kSectorBytes, 0);
    }
    fileBlocks = fileLocTable.allocatedBlocks;
    if (start == 0) partitionStart = 256 + headerSectorsH;
    // Files of an earlier session are addressed inside the partition, which begins at
    // sector 257: data recorded before it cannot be described.
    for (const UdfEntry& e : plan.entries)
      if (!e.folder && e.node->IsISO9660ImportItem() && e.node->dataActualSize > 0 &&
          e.node->importDataLBA < partitionStart)
        return refuse(kErrProducerFormat, "An imported file lies before the UDF partition: " +
                                              quillion::layoutPath(*e.node));
    const std::uint64_t end = std::uint64_t{start} + 256 + partitionSectors + fileBlocks + 1;
    if (end > std::numeric_limits<std::uint32_t>::max()) {
      return refuse(kErrProducerTooManyFiles,
                    "The volume would be larger than 32-bit sectors reach");
    }
    anchor.assign(kSectorBytes, 0);
  } catch (const std::bad_alloc&) {
    return refuse(kErrOutOfMemory, "No memory for the UDF headers");
  }

  fillFacts();
  facts.partitionLength = start + 256 + partitionSectors + fileBlocks - partitionStart;
  const Bytes head(header);
  if (dvdVideo)
    writeVRS(head, 19);
  else
    writeIsoStub(head, facts);
  writeVDSE(head, kMainSequenceSector, facts);
  writeVDSE(head, kReserveSequenceSector, facts);
  writeLVIS(head, facts);
  writeAVDP(Bytes(anchor), start + kAnchorSector, facts);
  UdfPartitionContext context;
  context.facts = &facts;
  context.base = facts.fileSetBlock;
  context.maxExtentBytes = options.maxExtentBytes;
  context.locate = [this](const FS_Node& node) { return locate(node); };
  headerBlocks.emplace(plan, context);

  totalBlocks = std::max(partitionSectors + fileBlocks + 257, kMinimumBlocks);
  blockSize = size;
  *requestedBlockSize = size;
  delivered = 0;
  forkReader.rewind();
  prepared = true;
  return kNoErr;
}

void DPM_UDF::produce(std::uint8_t* out, std::uint32_t blocks) {
  const std::uint32_t partitionEnd = kAnchorSector + partitionSectors;
  const std::uint32_t dataEnd = partitionEnd + fileBlocks;
  std::uint32_t block = delivered;
  while (blocks > 0) {
    std::uint32_t run = blocks;
    const std::size_t bytesOf = std::size_t{kSectorBytes};
    if (block < kHeaderSectors) {
      run = std::min(run, kHeaderSectors - block);
      std::memcpy(out, header.data() + block * bytesOf, run * bytesOf);
    } else if (block < kAnchorSector) {
      run = std::min(run, kAnchorSector - block);
      std::memset(out, 0, run * bytesOf);
    } else if (block < partitionEnd) {
      run = std::min(run, partitionEnd - block);
      producePartitionHeader(out, block - kAnchorSector, run);
    } else if (block < dataEnd) {
      run = std::min(run, dataEnd - block);
      std::uint32_t got = 0;
      if (GetBlockFromFiles(&fileLocTable, out, run * kSectorBytes, &got) != kNoErr)
        std::memset(out + got, 0, run * bytesOf - got);
    } else if (block + 1 < totalBlocks) {
      run = std::min(run, totalBlocks - 1 - block);
      std::memset(out, 0, run * bytesOf);
    } else {
      run = 1;
      writeAVDP(Bytes(out, kSectorBytes), start + block, facts);
    }
    out += run * bytesOf;
    block += run;
    blocks -= run;
  }
}

// Sectors from 256 on: the anchor, the sectors up to the file set descriptor (in DVD-Video
// order the ISO9660 tables, else zeros), then the partition header. `first` counts from
// sector 256.
void DPM_UDF::producePartitionHeader(std::uint8_t* out, std::uint32_t first, std::uint32_t count) {
  while (count > 0) {
    std::uint32_t run = 1;
    if (first == 0) {
      std::memcpy(out, anchor.data(), kSectorBytes);
    } else if (first < headerSectorsH) {
      run = std::min(count, headerSectorsH - first);
      const std::size_t bytes = std::size_t{run} * kSectorBytes;
      const std::size_t from = std::size_t{first - 1} * kSectorBytes;
      const std::size_t copied =
          from < isoTables.size() ? std::min(bytes, isoTables.size() - from) : 0;
      if (copied > 0) std::memcpy(out, isoTables.data() + from, copied);
      std::memset(out + copied, 0, bytes - copied);
    } else {
      run = count;
      headerBlocks->write(Bytes(out, std::size_t{run} * kSectorBytes), first - headerSectorsH, run);
    }
    out += std::size_t{run} * kSectorBytes;
    first += run;
    count -= run;
  }
}

EngineStatus DPM_UDF::NextBlocks(void* buffer, std::uint32_t bufferBytes, std::uint32_t maxBlocks,
                                 std::uint32_t* gotBlocks) {
  if (buffer == nullptr || gotBlocks == nullptr) return kErrBadArgument;
  *gotBlocks = 0;
  if (!prepared) return kNoErr;
  const std::uint32_t n =
      std::min({maxBlocks, bufferBytes / kSectorBytes, totalBlocks - delivered});
  produce(static_cast<std::uint8_t*>(buffer), n);
  delivered += n;
  *gotBlocks = n;
  return kNoErr;
}

EngineStatus DPM_UDF::GetFileLocList(FS_FileLocList** out) {
  if (out == nullptr) return kErrBadArgument;
  return quillion::makeFileLocList(fileLocTable, std::uint64_t{start} + 256 + partitionSectors,
                                   out);
}

int DPM_UDF::GetAVDP(void* out) const {
  if (out == nullptr || !prepared || anchor.size() < kSectorBytes) return 0;
  std::memcpy(out, anchor.data(), kSectorBytes);
  return 1;
}
