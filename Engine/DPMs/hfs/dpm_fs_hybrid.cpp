// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/hfs/dpm_fs_hybrid.h"

#include "DPMs/hfs/dpm_fs_hfs.h"
#include "DPMs/hfs/dpm_fs_hfsplus.h"

namespace {

constexpr std::uint16_t kHybridHFS = 1;
constexpr std::uint16_t kHybridHFSPlus = 2;

}  // namespace

DPM_FS_Hybrid::DPM_FS_Hybrid(FS_Tree* contentTree, std::uint16_t code, std::uint32_t start,
                             bool withAppleExtensions, bool withVersionSuffix, bool withXA)
    : DPM_FileSystem_Base(contentTree),
      formatCode(code),
      appleExtensions(withAppleExtensions),
      versionSuffix(withVersionSuffix),
      xa(withXA),
      sessionStart(start) {}

DPM_FS_Hybrid::~DPM_FS_Hybrid() {
  DPM_FS_Hybrid::Term();
}

bool DPM_FS_Hybrid::validCode() const {
  const std::uint16_t macKind = formatCode & 0xFF, isoKind = formatCode >> 8;
  return (macKind == kHybridHFS || macKind == kHybridHFSPlus) && (isoKind == 1 || isoKind == 2);
}

EngineStatus DPM_FS_Hybrid::Init() {
  return validCode() ? kNoErr : kErrProducerFormat;
}

void DPM_FS_Hybrid::Term() {
  iso.reset();
  mac.reset();
  prepared = false;
  headersGenerated = false;
}

void DPM_FS_Hybrid::takeProblem(const DPM_FileSystem_Base& part) {
  if (layoutProblem.empty()) layoutProblem = part.LayoutProblem();
}

EngineStatus DPM_FS_Hybrid::GenerateStuffsForHeaders() {
  Term();
  layoutProblem.clear();
  if (!validCode()) return refuse(kErrProducerFormat, "Unknown hybrid format");
  if ((formatCode & 0xFF) == kHybridHFS)
    mac = std::make_unique<DPM_FS_HFS>(tree, sessionStart);
  else
    mac = std::make_unique<DPM_FS_HFSPlus>(tree, sessionStart);
  const auto isoFormat =
      (formatCode >> 8) == 2 ? DPM_FS_ISO9660::kJoliet : DPM_FS_ISO9660::kISO9660;
  iso = std::make_unique<DPM_FS_ISO9660>(tree, isoFormat, sessionStart, appleExtensions,
                                         versionSuffix, xa);
  mac->Hybrid(true);
  iso->Hybrid(true);
  headersGenerated = true;
  return kNoErr;
}

std::uint32_t DPM_FS_Hybrid::PrepareAll(std::uint16_t* requestedBlockSize,
                                        DPM_ProgressProc progress, void* userData) {
  prepared = false;
  if (requestedBlockSize == nullptr) return 0;
  if (!headersGenerated && GenerateStuffsForHeaders() != kNoErr) return 0;
  if (!mac || !iso) return 0;
  layoutProblem.clear();
  if (iso->GenerateStuffsForHeaders() != kNoErr) {
    takeProblem(*iso);
    return 0;
  }
  const std::uint32_t headerBytes = iso->GetISO9660HeaderSize();
  mac->SetISO9660HeaderSize(headerBytes);
  if (mac->GenerateStuffsForHeaders() != kNoErr) {
    takeProblem(*mac);
    return 0;
  }
  const std::uint32_t blocks = mac->PrepareAll(requestedBlockSize, progress, userData);
  if (blocks == 0) {
    takeProblem(*mac);
    return 0;
  }
  iso->SetFileLocTable(mac->GetFileLocTable());
  iso->SetDataAreaOffset(static_cast<std::uint32_t>(mac->GetDataAreaOffset()));
  std::uint16_t isoBlockSize = *requestedBlockSize;
  if (iso->PrepareAll(&isoBlockSize, progress, userData) == 0) {
    takeProblem(*iso);
    return 0;
  }
  if (mac->CombineISO9660Header(iso->HeaderBuffer(), headerBytes) != kNoErr) {
    refuse(kErrProducerHeaderSize, "The ISO9660 headers do not fit in the HFS volume");
    return 0;
  }
  layoutNotes = mac->LayoutNotes();
  layoutNotes.insert(layoutNotes.end(), iso->LayoutNotes().begin(), iso->LayoutNotes().end());
  blockSize = *requestedBlockSize;
  totalBlocks = blocks;
  prepared = true;
  return blocks;
}

EngineStatus DPM_FS_Hybrid::NextBlocks(void* buffer, std::uint32_t bufferBytes,
                                       std::uint32_t maxBlocks, std::uint32_t* gotBlocks) {
  if (!prepared || !mac) return kErrProducerNoSource;
  return mac->NextBlocks(buffer, bufferBytes, maxBlocks, gotBlocks);
}

EngineStatus DPM_FS_Hybrid::GetFileLocList(FS_FileLocList** out) {
  if (!mac) return out == nullptr ? kErrBadArgument : kErrProducerNoSource;
  return mac->GetFileLocList(out);
}

const std::vector<DPM_MissingData>& DPM_FS_Hybrid::MissingData() const {
  return mac ? mac->MissingData() : DPM_FileSystem_Base::MissingData();
}

const std::uint8_t* DPM_FS_Hybrid::GetISO9660AllHeaders() const {
  return iso ? iso->HeaderBuffer() : nullptr;
}
