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

const std::vector<std::string>& DPM_Base::LayoutNotes() const {
  static const std::vector<std::string> none;
  return none;
}

EngineStatus DPM_Base::DataResult() const {
  return MissingData().empty() ? kNoErr : kErrFileAccess;
}

std::string DPM_MissingDataLogLine(const DPM_MissingData& missing) {
  if (missing.changed) {
    return "\r?? File changed since the layout was made, its first " +
           std::to_string(missing.expectedBytes) + " bytes written: " + missing.path + " (" +
           std::to_string(missing.expectedBytes) + " bytes when measured, " +
           std::to_string(missing.currentBytes) + " bytes now)\r";
  }
  std::string line = "\r?? File data missing, written as zeros: ";
  line += missing.path.empty() ? std::string("(no file)") : missing.path;
  line += missing.resourceFork ? " (resource fork, " : " (data fork, ";
  line += std::to_string(missing.readBytes) + " of " + std::to_string(missing.expectedBytes) +
          " bytes read)\r";
  return line;
}
