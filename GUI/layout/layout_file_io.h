// SPDX-License-Identifier: GPL-2.0-or-later
// The layout file: one dictionary saved as an XML property list, with typed accessors for
// every key. The content tree and the track lists travel in it as opaque serialised bytes.
//
// A null QString or QByteArray stands for "absent" throughout: an empty string is a value
// (an empty "Destination Path" is stored, an absent one is not).
#pragma once

#include <QByteArray>
#include <QString>
#include <map>
#include <optional>

#include "layout/plist_node.h"

namespace quillion {

// One CD-Text record of the disc or of a track.
struct CdTextFields {
  QString title;
  QString performer;
  QString songWriter;
  QString composer;
  QString arranger;
  bool operator==(const CdTextFields&) const = default;
};

// The "CD Text" entry: "Disc" and "Track 1", "Track 2", ... (tracks counted from 1).
struct LayoutCdText {
  std::optional<CdTextFields> disc;
  std::map<int, CdTextFields> tracks;
  bool operator==(const LayoutCdText&) const = default;
};

// Why a layout file cannot be used.
enum class LayoutFileProblem {
  None,
  NotAPropertyList,  // unreadable, damaged, or its root is not a dictionary
  NoSignature,       // a property list that this program did not make
  WrongType,         // a known key holds a value of another type or out of range
};

struct LayoutFileCheck {
  LayoutFileProblem problem = LayoutFileProblem::None;
  QString key;  // for WrongType
  bool ok() const { return problem == LayoutFileProblem::None; }
};

class LayoutFileIO {
 public:
  static constexpr char kSignature[] = "ZEB VUK 9988";
  static constexpr char kCDImageVendor[] = "CD Image File";

  // A new layout: a dictionary holding only the signature.
  LayoutFileIO();
  // A layout read from file data; without a dictionary when the data is no (strictly
  // well-formed) property list, in which case every getter answers its absent value.
  static LayoutFileIO initWithXMLData(const QByteArray& data);

  LayoutFileIO(const LayoutFileIO& other);
  LayoutFileIO& operator=(const LayoutFileIO& other);
  LayoutFileIO(LayoutFileIO&&) noexcept = default;
  LayoutFileIO& operator=(LayoutFileIO&&) noexcept = default;
  ~LayoutFileIO();

  bool hasDictionary() const { return dict_ != nullptr; }
  // The XML property list of the dictionary; null without one.
  QByteArray XMLData() const;

  // The signature is "ZEB VUK 9988".
  bool IsValid() const;
  // IsValid() and every known key of the right type: what a document needs to open it.
  LayoutFileCheck check() const;

  bool IsDstCDImage() const;
  bool IsSrcCDImage() const;

  QString DstVendor() const;
  QString DstModel() const;
  QString DstVersion() const;
  QString DstCDImagePath() const;
  QString DstISOImagePath() const;
  QString SrcVendor() const;
  QString SrcModel() const;
  QString SrcVersion() const;
  QString SrcCDImagePath() const;
  QString Title() const;
  QByteArray FSTreeMap() const;
  QByteArray FSListMap() const;
  QString VolumeSetName() const;
  QString SystemName() const;
  QString PublisherName() const;
  QString PreparerName() const;
  std::optional<LayoutCdText> CdTextEntries() const;

  int dataFilterIndex() const;  // 0 when absent
  int FileFormat() const;       // 2 when absent
  bool discSpan() const;
  bool writeXA() const;
  bool ignoreAlias() const;
  bool appendAppleExtension() const;

  // Vendor, model and version are stored only when not null and not empty; the image path
  // whenever it is not null, also when empty.
  void SetDstDevice(const QString& vendor, const QString& model, const QString& version,
                    const QString& imagePath);
  // Stores the ISO image writer's path, which the destination image path cannot carry.
  void SetDstISOImagePath(const QString& path);
  // Each of the four is stored only when not null and not empty.
  void SetSrcDevice(const QString& vendor, const QString& model, const QString& version,
                    const QString& imagePath);
  // A null value removes the key.
  void SetTitle(const QString& title);
  void SetFSTreeMap(const QByteArray& map);
  void SetFSListMap(const QByteArray& map);
  void SetCDTextEntries(const std::optional<LayoutCdText>& entries);
  // Stored only when not null.
  void SetVolumeSetName(const QString& name);
  void SetSystemName(const QString& name);
  void SetPublisherName(const QString& name);
  void SetPreparerName(const QString& name);
  void setDataFilterIndex(int index);
  void SetFileFormat(int format);
  void SetDiscSpan(bool on);
  void SetWriteXA(bool on);
  void SetIgnoreAlias(bool on);
  void SetAppendAppleExtension(bool on);

 private:
  QString stringValue(const char* key) const;

  plist::Owned dict_;
};

}  // namespace quillion
