// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/iso9660/dpm_fs_iso9660.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <new>

#include "DPMs/iso9660/iso_tables.h"
#include "quillion/clock.h"
#include "tree/fs_node.h"
#include "tree/fs_tree.h"

using namespace quillion::iso;

namespace {

constexpr const char* kSystemIdentifier = "Apple Computer, Inc., Type:0001";
constexpr const char* kVideoCDSystemIdentifier = "CD-RTOS CD-BRIDGE";
constexpr const char* kUntitled = "Untitled";
constexpr std::uint32_t kSystemAreaBlocks = 16;
// A bridge image keeps session blocks 19 to 256 for its UDF structures.
constexpr std::uint32_t kBridgeTablesBlock = 257;
constexpr std::uint32_t kBridgeReservedBlocks = 240;

std::uint32_t blocksOf(std::uint64_t bytes) {
  return static_cast<std::uint32_t>((bytes + kSectorBytes - 1) / kSectorBytes);
}

std::tm localNow(std::int8_t& gmtOffset) {
  const auto now = quillion::engineClock().wallNow();
  const std::time_t seconds =
      std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
  std::tm local{};
  ::localtime_r(&seconds, &local);
  gmtOffset = static_cast<std::int8_t>(local.tm_gmtoff / (15 * 60));
  return local;
}

DPM_FS_ISO9660::Limits sane(DPM_FS_ISO9660::Limits limits) {
  const std::uint64_t extent = limits.maxExtentBytes / kSectorBytes * kSectorBytes;
  limits.maxExtentBytes = std::clamp<std::uint64_t>(extent, kSectorBytes, 0xFFFFF800);
  limits.maxDirectories = std::clamp<std::uint32_t>(limits.maxDirectories, 1, 0xFFFF);
  return limits;
}

}  // namespace

DPM_FS_ISO9660::DPM_FS_ISO9660(FS_Tree* contentTree, ISOFormat isoFormat, std::uint32_t start,
                               bool withAppleExtensions, bool withVersionSuffix, bool withXA)
    : DPM_FS_ISO9660(contentTree, isoFormat, start, withAppleExtensions, withVersionSuffix, withXA,
                     Limits{}) {}

DPM_FS_ISO9660::DPM_FS_ISO9660(FS_Tree* contentTree, ISOFormat isoFormat, std::uint32_t start,
                               bool withAppleExtensions, bool withVersionSuffix, bool withXA,
                               const Limits& formatLimits)
    : DPM_FileSystem_Base(contentTree),
      sessionStart(start),
      appleExtensions(withAppleExtensions),
      versionSuffix(withVersionSuffix),
      xa(withXA),
      format(isoFormat),
      limits(sane(formatLimits)) {
  if (format == kUDFBridge) {
    format = kJoliet;
    bridge = true;
    versionSuffix = false;
    xa = false;
  }
  texts.system = kSystemIdentifier;
  dates.creation = localNow(dates.gmtOffset);
  dates.modification = dates.creation;
}

DPM_FS_ISO9660::~DPM_FS_ISO9660() {
  DPM_FS_ISO9660::Term();
}

EngineStatus DPM_FS_ISO9660::Init() {
  return format == kISO9660 || format == kJoliet ? kNoErr : kErrProducerFormat;
}

void DPM_FS_ISO9660::Term() {
  isoQueue.clear();
  jolietQueue.clear();
  converter.reset();
  header.reset();
  fileLocTable.clear();
  forkReader.rewind();
  tableInUse = nullptr;
  prepared = false;
  headersGenerated = false;
}

IsoRecordOptions DPM_FS_ISO9660::recordOptions() const {
  return IsoRecordOptions{xa, appleExtensions, bridge, limits.maxExtentBytes};
}

EngineStatus DPM_FS_ISO9660::GenerateStuffsForHeaders() {
  layoutProblem.clear();
  layoutNotes.clear();
  if (tree == nullptr || tree->Root() == nullptr)
    return refuse(kErrProducerNoSource, "There is no layout to write");
  if (videoCD) {
    appleExtensions = false;
    versionSuffix = true;
    format = kISO9660;
    texts.system = kVideoCDSystemIdentifier;
  }
  if (Init() != kNoErr) return refuse(kErrProducerFormat, "Unknown ISO9660 format");
  const char* title = tree->GetTreeTitle();
  texts.volume = title != nullptr && *title != '\0' ? title : kUntitled;
  try {
    const IsoNaming isoNaming{false, versionSuffix, nullptr};
    if (const EngineStatus s =
            BuildDirQueue(tree->Root(), isoNaming, limits.maxDirectories, isoQueue, layoutProblem);
        s != kNoErr)
      return s;
    if (joliet()) {
      std::uint32_t encoding = kCS_EncodingUTF8;
      converter.reset(CS_UC_Init(&encoding));
      if (!converter) return refuse(kErrOutOfMemory, "No converter for Joliet names");
      const IsoNaming jolietNaming{true, false, converter.get()};
      std::vector<IsoNameNote> notes;
      if (const EngineStatus s = BuildDirQueue(tree->Root(), jolietNaming, limits.maxDirectories,
                                               jolietQueue, layoutProblem, &notes);
          s != kNoErr)
        return s;
      for (const IsoNameNote& note : notes)
        layoutNotes.push_back("\r?? Name is not valid UTF-8, read as Latin-1 \"" + note.readAs +
                              "\": " + note.node->GetFullPathName() + "\r");
    }
    if (const EngineStatus s = CalculateTablesSize(); s != kNoErr) return s;
  } catch (const std::bad_alloc&) {
    return refuse(kErrOutOfMemory, "Out of memory while naming the files");
  }
  dataAreaOffset = kSystemAreaBlocks + headerBlocks;
  headersGenerated = true;
  return kNoErr;
}

void DPM_FS_ISO9660::layOutDirectories(IsoDirQueue& queue, std::uint32_t firstBlock) const {
  for (isoDirData& dir : queue.dirs) {
    dir.firstBlock = firstBlock;
    firstBlock += dir.blocks;
  }
}

EngineStatus DPM_FS_ISO9660::CalculateTablesSize() {
  const IsoRecordOptions options = recordOptions();
  const auto directoryBlocks = [&options](IsoDirQueue& queue) {
    std::uint64_t blocks = 0;
    for (isoDirData& dir : queue.dirs) {
      dir.blocks = DirRecSize(dir.children, options) / kSectorBytes;
      blocks += dir.blocks;
    }
    return blocks;
  };
  pathTableBytes = PathTableBytes(isoQueue);
  pathTableBlocks = blocksOf(pathTableBytes);
  const std::uint64_t isoDirs = directoryBlocks(isoQueue);
  lPathTable = bridge ? kBridgeTablesBlock : (joliet() ? 19 : 18);
  mPathTable = lPathTable + pathTableBlocks;
  firstDirBlock = mPathTable + pathTableBlocks;
  std::uint64_t blocks =
      isoDirs + 2ull * pathTableBlocks + (bridge ? kBridgeReservedBlocks : 0) + 2;
  std::uint64_t end = firstDirBlock + isoDirs;
  if (joliet()) {
    jPathTableBytes = PathTableBytes(jolietQueue);
    jPathTableBlocks = blocksOf(jPathTableBytes);
    const std::uint64_t jolietDirs = directoryBlocks(jolietQueue);
    blocks += jolietDirs + 2ull * jPathTableBlocks + 1;
    end += 2ull * jPathTableBlocks + jolietDirs;
  }
  // Directory extents are numbered in 32 bits; a layout beyond that cannot be described.
  if (end > std::numeric_limits<std::uint32_t>::max() / 2)
    return refuse(kErrProducerTooManyFiles, "The directories of the layout are too large");
  dirBlocks = static_cast<std::uint32_t>(isoDirs);
  layOutDirectories(isoQueue, firstDirBlock);
  if (joliet()) {
    jlPathTable = firstDirBlock + dirBlocks;
    jmPathTable = jlPathTable + jPathTableBlocks;
    jFirstDirBlock = jmPathTable + jPathTableBlocks;
    layOutDirectories(jolietQueue, jFirstDirBlock);
  }
  headerBlocks = static_cast<std::uint32_t>(blocks);
  return kNoErr;
}

std::uint32_t DPM_FS_ISO9660::PrepareAll(std::uint16_t* requestedBlockSize, DPM_ProgressProc,
                                         void*) {
  prepared = false;
  if (requestedBlockSize == nullptr || tree == nullptr) return 0;
  if (!headersGenerated && GenerateStuffsForHeaders() != kNoErr) return 0;
  // Mode 2 sectors come from wrapping the producer (DPM_Mode2Form1).
  if (*requestedBlockSize != 0 && *requestedBlockSize != kSectorBytes) {
    refuse(kErrBadArgument, "ISO9660 data is produced in blocks of 2048 bytes");
    return 0;
  }
  const std::uint16_t size = kSectorBytes;
  if (!hybrid) {
    if (tree->GenerateFileLocTable(kSectorBytes, &fileLocTable, tree->useResourceFork) != kNoErr) {
      refuse(kErrProducerTooManyFiles, "The files of the layout do not fit in one volume");
      return 0;
    }
    tableInUse = &fileLocTable;
  }
  if (tableInUse == nullptr) return 0;
  fileBlocks = static_cast<std::uint32_t>(
      quillion::sectorsOfTableBlocks(tableInUse->allocatedBlocks, tableInUse->blockSize));
  const std::uint64_t total = std::uint64_t{dataAreaOffset} + fileBlocks;
  if (total + sessionStart > std::numeric_limits<std::uint32_t>::max()) {
    refuse(kErrProducerTooManyFiles, "The volume would be larger than 32-bit block numbers reach");
    return 0;
  }
  try {
    header = std::make_unique<std::uint8_t[]>(std::size_t{headerBlocks} * kSectorBytes);
  } catch (const std::bad_alloc&) {
    refuse(kErrOutOfMemory, "No memory for the ISO9660 headers");
    return 0;
  }
  totalBlocks = static_cast<std::uint32_t>(total);
  blockSize = size;
  *requestedBlockSize = size;
  writeHeaders();
  forkReader.rewind();
  readBlock = 0;
  prepared = true;
  return totalBlocks;
}

IsoForkPlace DPM_FS_ISO9660::locate(const FS_Node& node, bool resource) const {
  if (node.IsISO9660ImportItem()) return {true, resource ? node.importRsrcLBA : node.importDataLBA};
  if (tableInUse == nullptr) return {};
  const auto it = tableInUse->index.find(&node);
  if (it == tableInUse->index.end() || it->second >= tableInUse->entries.size()) return {};
  const FS_FileLoc& entry = tableInUse->entries[it->second];
  if (!bridge && entry.node != &node) return {};
  const std::uint32_t blocks = resource ? entry.rsrcBlocks : entry.dataBlocks;
  if (resource && blocks == 0) return {};
  const std::uint32_t start = resource ? entry.rsrcStart : entry.dataStart;
  return {true,
          static_cast<std::uint32_t>(sessionStart + dataAreaOffset +
                                     quillion::sectorsOfTableBlocks(start, tableInUse->blockSize))};
}

IsoTreeFields DPM_FS_ISO9660::treeFields(const IsoDirQueue& queue, std::uint32_t lBlock,
                                         std::uint32_t mBlock, std::uint32_t pathBytes) const {
  IsoTreeFields fields;
  fields.volumeSpaceBlocks = totalBlocks + sessionStart;
  fields.pathTableBytes = pathBytes;
  fields.lPathTableLBA = sessionStart + lBlock;
  fields.mPathTableLBA = sessionStart + mBlock;
  const isoDirData& root = queue.dirs.front();
  fields.root.kind = kDotRecord;
  fields.root.extent = sessionStart + root.firstBlock;
  fields.root.length = root.blocks * kSectorBytes;
  fields.root.date = dates.creation;
  fields.root.gmtOffset = dates.gmtOffset;
  return fields;
}

void DPM_FS_ISO9660::writeTree(const IsoDirQueue& queue, std::uint32_t lBlock, std::uint32_t mBlock,
                               std::uint32_t pathBytes, std::span<std::uint8_t> buffer) const {
  const auto table = [&](std::uint32_t block) {
    return buffer.subspan(std::size_t{block - kSystemAreaBlocks} * kSectorBytes, pathBytes);
  };
  CreatePT(queue, sessionStart, table(lBlock), table(mBlock));
  IsoDirectoryContext context;
  context.options = recordOptions();
  context.sessionStart = sessionStart;
  context.now = dates.creation;
  context.gmtOffset = dates.gmtOffset;
  context.locate = [this](const FS_Node& node, bool resource) { return locate(node, resource); };
  CreateDT(queue, context, buffer, kSystemAreaBlocks);
}

void DPM_FS_ISO9660::writeHeaders() {
  const std::span<std::uint8_t> buffer(header.get(), std::size_t{headerBlocks} * kSectorBytes);
  const auto block = [&](std::size_t n) {
    return buffer.subspan(n * kSectorBytes).first<kSectorBytes>();
  };
  CreatePVD(block(0), texts, dates, treeFields(isoQueue, lPathTable, mPathTable, pathTableBytes),
            !bridge, xa);
  if (joliet()) {
    CreateSVD(block(1), texts, dates,
              treeFields(jolietQueue, jlPathTable, jmPathTable, jPathTableBytes), !bridge, xa,
              converter.get());
    CreateVDT(block(2));
  } else {
    CreateVDT(block(1));
  }
  writeTree(isoQueue, lPathTable, mPathTable, pathTableBytes, buffer);
  if (joliet()) writeTree(jolietQueue, jlPathTable, jmPathTable, jPathTableBytes, buffer);
}

void DPM_FS_ISO9660::produce(std::uint8_t* out, std::uint32_t blocks) {
  const std::uint32_t headerEnd = kSystemAreaBlocks + headerBlocks;
  std::uint32_t block = readBlock;
  while (blocks > 0) {
    std::uint32_t run = blocks;
    if (block < kSystemAreaBlocks) {
      run = std::min(run, kSystemAreaBlocks - block);
      std::memset(out, 0, std::size_t{run} * kSectorBytes);
    } else if (block < headerEnd) {
      run = std::min(run, headerEnd - block);
      std::memcpy(out, header.get() + std::size_t{block - kSystemAreaBlocks} * kSectorBytes,
                  std::size_t{run} * kSectorBytes);
    } else if (block < dataAreaOffset) {
      run = std::min(run, dataAreaOffset - block);
      std::memset(out, 0, std::size_t{run} * kSectorBytes);
    } else {
      std::uint32_t got = 0;
      if (GetBlockFromFiles(tableInUse, out, run * kSectorBytes, &got) != kNoErr)
        std::memset(out + got, 0, run * kSectorBytes - got);
    }
    out += std::size_t{run} * kSectorBytes;
    block += run;
    blocks -= run;
  }
}

EngineStatus DPM_FS_ISO9660::NextBlocks(void* buffer, std::uint32_t bufferBytes,
                                        std::uint32_t maxBlocks, std::uint32_t* gotBlocks) {
  if (buffer == nullptr || gotBlocks == nullptr) return kErrBadArgument;
  *gotBlocks = 0;
  if (!prepared || blockSize == 0) return kNoErr;
  const std::uint32_t n = std::min({maxBlocks, bufferBytes / blockSize, totalBlocks - readBlock});
  auto* out = static_cast<std::uint8_t*>(buffer);
  produce(out, n);
  readBlock += n;
  *gotBlocks = n;
  return kNoErr;
}

EngineStatus DPM_FS_ISO9660::GetFileLocList(FS_FileLocList** out) {
  if (out == nullptr) return kErrBadArgument;
  const FS_FileLocTable& table = tableInUse != nullptr ? *tableInUse : fileLocTable;
  return quillion::makeFileLocList(table, std::uint64_t{sessionStart} + dataAreaOffset, out);
}

std::uint32_t DPM_FS_ISO9660::GetISO9660HeaderSize() const {
  return headerBlocks * kSectorBytes;
}

void DPM_FS_ISO9660::SetDataAreaOffset(std::uint32_t bytes) {
  dataAreaOffset = bytes / kSectorBytes;
}

void DPM_FS_ISO9660::SetSessionOffset(std::uint32_t block) {
  sessionStart = block;
}

void DPM_FS_ISO9660::SetFileLocTable(FS_FileLocTable* table) {
  tableInUse = table;
}

std::uint32_t DPM_FS_ISO9660::GetNodeLBN(FS_Node* node, std::uint32_t* blocks,
                                         ISOFormat treeFormat) const {
  const IsoDirQueue* queue = treeFormat == kISO9660  ? &isoQueue
                             : treeFormat == kJoliet ? &jolietQueue
                                                     : nullptr;
  const isoDirData* dir = queue != nullptr ? queue->find(node) : nullptr;
  if (blocks != nullptr) *blocks = dir != nullptr ? dir->blocks : 0;
  return dir != nullptr ? dir->firstBlock : 0;
}
