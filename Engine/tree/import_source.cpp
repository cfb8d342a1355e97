// SPDX-License-Identifier: GPL-2.0-or-later
#include "tree/import_source.h"

#include <algorithm>
#include <cstring>

#include "platform/text/text_encoding.h"
#include "tree/name_units.h"

namespace quillion::import {

EngineStatus MemoryBlockSource::read(std::uint32_t lba, std::uint32_t blocks,
                                     std::vector<std::uint8_t>& out) {
  out.clear();
  if (!onMedium(*this, lba, blocks)) return kErrCheckCondition;
  const std::size_t at = std::size_t{lba} * kBlockBytes;
  out.assign(image_.begin() + static_cast<std::ptrdiff_t>(at),
             image_.begin() + static_cast<std::ptrdiff_t>(at + std::size_t{blocks} * kBlockBytes));
  return kNoErr;
}

std::uint32_t MemoryBlockSource::mediumBlocks() const {
  return static_cast<std::uint32_t>(
      std::min<std::size_t>(image_.size() / kBlockBytes, 0xFFFFFFFFu));
}

bool onMedium(const BlockSource& source, std::uint64_t lba, std::uint64_t blocks) {
  return lba + blocks <= source.mediumBlocks();
}

EngineStatus ImportWalk::readDirectory(std::uint32_t lba, std::uint64_t bytes,
                                       std::vector<std::uint8_t>& out) {
  out.clear();
  if (bytes == 0 || bytes > limits_.maxDirectoryBytes) return kErrImportNoVolume;
  const std::uint64_t blocks = blocksFor(bytes);
  if (!onMedium(source_, lba, blocks)) return kErrImportNoVolume;
  directoryBytes_ += blocks * kBlockBytes;
  if (directoryBytes_ > limits_.maxTotalDirectoryBytes) return kErrImportNoVolume;
  const EngineStatus s = source_.read(lba, static_cast<std::uint32_t>(blocks), out);
  if (s != kNoErr || out.size() < blocks * kBlockBytes) {
    out.clear();
    return kErrImportConverter;
  }
  out.resize(static_cast<std::size_t>(bytes));
  return kNoErr;
}

namespace {

// "name.ext" -> "name~2.ext": the number goes before the extension, so the kind of file
// stays visible.
std::string numberedTitle(const std::string& title, std::uint32_t number) {
  const std::size_t dot = title.rfind('.');
  const bool hasExtension = dot != std::string::npos && dot != 0;
  const std::string base = hasExtension ? title.substr(0, dot) : title;
  const std::string extension = hasExtension ? title.substr(dot) : std::string();
  return base + "~" + std::to_string(number) + extension;
}

}  // namespace

bool ImportWalk::attach(FS_Node* node, FS_Node* parent, const std::string& diskPath) {
  if (parent->AddChild(node) == kNoErr) return true;
  const std::string original = node->Title();
  // Sibling titles of one folder are few: a free number turns up within their count.
  const std::uint32_t tries = parent->GetNumberOfChildren() + 2;
  for (std::uint32_t n = 2; n <= tries; ++n) {
    const std::string candidate = numberedTitle(original, n);
    if (parent->FindChild(candidate) != nullptr) continue;
    (void)node->SetTitle(candidate.c_str(), false);
    if (parent->AddChild(node) == kNoErr) {
      note(TNC_ImportNote::kRenamed, diskPath, candidate);
      return true;
    }
  }
  delete node;
  return false;
}

void ImportWalk::note(TNC_ImportNote::Kind kind, const std::string& path,
                      const std::string& newName) {
  notes_.push_back(TNC_ImportNote{kind, path, newName});
}

std::unique_ptr<FS_Tree> makeImportTree() {
  FS_Node* root = FS_Node::MakeFolder("import", nullptr, true);
  root->SetFolder(true);
  root->SetValid(true);
  return std::make_unique<FS_Tree>(root);
}

namespace {

std::string cleanTitle(std::string text) {
  for (char& c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '/') c = '_';
  }
  return text;
}

}  // namespace

std::string titleFromUtf16BE(std::span<const std::uint8_t> bytes) {
  std::u16string units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    units.push_back(static_cast<char16_t>((bytes[i] << 8) | bytes[i + 1]));
  while (!units.empty() && units.back() == 0) units.pop_back();
  // An unpaired surrogate would make the whole name unreadable: it alone is replaced.
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      units[i] = 0xFFFD;
    }
  }
  std::string out;
  if (utf16ToUtf8(units, out) != kNoErr) out.clear();
  return cleanTitle(std::move(out));
}

std::string titleFromBytes(std::span<const std::uint8_t> bytes) {
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  while (!text.empty() && text.back() == '\0') text.remove_suffix(1);
  return cleanTitle(isValidUtf8(text) ? std::string(text) : utf8FromLatin1(text));
}

std::string trimTrailingBlanks(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

}  // namespace quillion::import
