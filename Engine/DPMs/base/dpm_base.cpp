// SPDX-License-Identifier: GPL-2.0-or-later
#include "DPMs/base/dpm_base.h"

DPM_Base::~DPM_Base() = default;

EngineStatus DPM_Base::Init() {
  return kNoErr;
}

void DPM_Base::Term() {}

void DPM_Base::SetTotalBlocks(std::uint32_t blocks) {
  totalBlocks = blocks;
}

std::uint32_t DPM_Base::BlockSize() const {
  return blockSize;
}

EngineStatus DPM_Base::GetCurrentSenseCode(MMC_SenseData*) {
  return kErrNotSupported;
}

const std::vector<DPM_MissingData>& DPM_Base::MissingData() const {
  static const std::vector<DPM_MissingData> none;
  return none;
}

EngineStatus DPM_Base::DataResult() const {
  return MissingData().empty() ? kNoErr : kErrFileAccess;
}

std::string DPM_MissingDataLogLine(const DPM_MissingData& missing) {
  std::string line = "\r?? File data missing, written as zeros: ";
  line += missing.path.empty() ? std::string("(no file)") : missing.path;
  line += missing.resourceFork ? " (resource fork, " : " (data fork, ";
  line += std::to_string(missing.readBytes) + " of " + std::to_string(missing.expectedBytes) +
          " bytes read)\r";
  return line;
}
