// SPDX-License-Identifier: GPL-2.0-or-later
#include "layout/layout_file_io.h"

#include <array>
#include <limits>

#include "layout/plist_gate.h"

namespace quillion {

namespace {

namespace key {
constexpr char Signature[] = "Signature";
constexpr char DstVendor[] = "Destination Vendor";
constexpr char DstModel[] = "Destination Model";
constexpr char DstVersion[] = "Destination Version";
constexpr char DstPath[] = "Destination Path";
constexpr char DstISOPath[] = "Destination ISO Path";
constexpr char SrcVendor[] = "Source Vendor";
constexpr char SrcModel[] = "Source Model";
constexpr char SrcVersion[] = "Source Version";
constexpr char SrcPath[] = "Source Path";
constexpr char Title[] = "Title";
constexpr char FSTreeMap[] = "FSTree Map";
constexpr char FSListMap[] = "FSList Map";
constexpr char DataFilter[] = "Data Filter Key";
constexpr char DiscSpan[] = "Enable Disc Span Key";
constexpr char WriteXA[] = "CDROM XA";
constexpr char IgnoreAlias[] = "Ignore Alias";
constexpr char AppleExt[] = "Apple Extension";
constexpr char VolumeSet[] = "Volume Set Name";
constexpr char System[] = "system Name";
constexpr char Publisher[] = "Publisher Name";
constexpr char Preparer[] = "Preparer Name";
constexpr char FileFormat[] = "Data File Format";
constexpr char CDText[] = "CD Text";
}  // namespace key

// CD-Text entries and their fields.
constexpr char kDiscEntry[] = "Disc";
constexpr char kTrackEntryPrefix[] = "Track ";
struct CdTextField {
  const char* name;
  QString CdTextFields::*member;
};
const std::array kCdTextFields{
    CdTextField{"Title", &CdTextFields::title},
    CdTextField{"Performer", &CdTextFields::performer},
    CdTextField{"Song Writer", &CdTextFields::songWriter},
    CdTextField{"Composer", &CdTextFields::composer},
    CdTextField{"Arranger", &CdTextFields::arranger},
};

// The type every known key must hold.
struct KeyType {
  const char* key;
  plist::Kind kind;
};
constexpr std::array kKeyTypes{
    KeyType{key::Signature, plist::Kind::String},    KeyType{key::DstVendor, plist::Kind::String},
    KeyType{key::DstModel, plist::Kind::String},     KeyType{key::DstVersion, plist::Kind::String},
    KeyType{key::DstPath, plist::Kind::String},      KeyType{key::DstISOPath, plist::Kind::String},
    KeyType{key::SrcVendor, plist::Kind::String},    KeyType{key::SrcModel, plist::Kind::String},
    KeyType{key::SrcVersion, plist::Kind::String},   KeyType{key::SrcPath, plist::Kind::String},
    KeyType{key::Title, plist::Kind::String},        KeyType{key::FSTreeMap, plist::Kind::Data},
    KeyType{key::FSListMap, plist::Kind::Data},      KeyType{key::DataFilter, plist::Kind::Integer},
    KeyType{key::DiscSpan, plist::Kind::Boolean},    KeyType{key::WriteXA, plist::Kind::Boolean},
    KeyType{key::IgnoreAlias, plist::Kind::Boolean}, KeyType{key::AppleExt, plist::Kind::Boolean},
    KeyType{key::VolumeSet, plist::Kind::String},    KeyType{key::System, plist::Kind::String},
    KeyType{key::Publisher, plist::Kind::String},    KeyType{key::Preparer, plist::Kind::String},
    KeyType{key::FileFormat, plist::Kind::Integer},  KeyType{key::CDText, plist::Kind::Dictionary},
};

QString k(const char* name) {
  return QString::fromLatin1(name);
}

// "Track 3" -> 3; 0 for any other name.
int trackNumberOf(const QString& entry) {
  if (!entry.startsWith(k(kTrackEntryPrefix))) return 0;
  bool ok = false;
  const int n = entry.mid(static_cast<qsizetype>(sizeof(kTrackEntryPrefix) - 1)).toInt(&ok);
  return ok && n > 0 ? n : 0;
}

bool fitsInt(qint64 v) {
  return v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max();
}

// The first problem inside "CD Text": every entry a dictionary, every field a string.
QString cdTextProblem(plist::Node cdText) {
  QString bad;
  plist::forEachKey(cdText, [&](const QString& entry, plist::Kind kind) {
    if (!bad.isEmpty()) return;
    if (kind != plist::Kind::Dictionary) {
      bad = k(key::CDText) + QLatin1Char('/') + entry;
      return;
    }
    plist::Node fields = plist::dictAt(cdText, entry);
    for (const CdTextField& f : kCdTextFields) {
      const plist::Kind fk = plist::kindAt(fields, k(f.name));
      if (fk != plist::Kind::Absent && fk != plist::Kind::String) {
        bad = k(key::CDText) + QLatin1Char('/') + entry + QLatin1Char('/') + k(f.name);
        return;
      }
    }
  });
  return bad;
}

CdTextFields readFields(plist::Node fields) {
  CdTextFields out;
  for (const CdTextField& f : kCdTextFields)
    out.*f.member = plist::stringAt(fields, k(f.name)).value_or(QString());
  return out;
}

plist::Owned fieldsNode(const CdTextFields& fields) {
  plist::Owned node = plist::newDict();
  for (const CdTextField& f : kCdTextFields) {
    const QString& value = fields.*f.member;
    plist::setString(node.get(), k(f.name), value.isNull() ? QStringLiteral("") : value);
  }
  return node;
}

// Stores a string unless it is null, or empty where empty is not allowed.
void setIfPresent(plist::Node dict, const char* name, const QString& value, bool allowEmpty) {
  if (value.isNull() || (!allowEmpty && value.isEmpty())) return;
  plist::setString(dict, k(name), value);
}

struct DeviceKeys {
  const char* vendor;
  const char* model;
  const char* version;
  const char* imagePath;
};
constexpr DeviceKeys kDestinationKeys{key::DstVendor, key::DstModel, key::DstVersion, key::DstPath};
constexpr DeviceKeys kSourceKeys{key::SrcVendor, key::SrcModel, key::SrcVersion, key::SrcPath};

struct DeviceValues {
  const QString& vendor;
  const QString& model;
  const QString& version;
  const QString& imagePath;
};

// Vendor, model and version only when not empty; the path also when empty if asked to.
void setDevice(plist::Node dict, const DeviceKeys& keys, const DeviceValues& v, bool emptyPath) {
  setIfPresent(dict, keys.vendor, v.vendor, false);
  setIfPresent(dict, keys.model, v.model, false);
  setIfPresent(dict, keys.version, v.version, false);
  setIfPresent(dict, keys.imagePath, v.imagePath, emptyPath);
}

}  // namespace

LayoutFileIO::LayoutFileIO() : dict_(plist::newDict()) {
  plist::setString(dict_.get(), k(key::Signature), k(kSignature));
}

LayoutFileIO LayoutFileIO::initWithXMLData(const QByteArray& data) {
  LayoutFileIO layout;
  layout.dict_.reset();
  if (isStrictXmlPlist(data)) layout.dict_ = plist::parseDictionary(data);
  return layout;
}

LayoutFileIO::LayoutFileIO(const LayoutFileIO& other) : dict_(plist::copy(other.dict_.get())) {}

LayoutFileIO& LayoutFileIO::operator=(const LayoutFileIO& other) {
  if (this != &other) dict_ = plist::copy(other.dict_.get());
  return *this;
}

LayoutFileIO::~LayoutFileIO() = default;

QByteArray LayoutFileIO::XMLData() const {
  return plist::toXml(dict_.get());
}

bool LayoutFileIO::IsValid() const {
  return stringValue(key::Signature) == k(kSignature);
}

LayoutFileCheck LayoutFileIO::check() const {
  if (!dict_) return {LayoutFileProblem::NotAPropertyList, {}};
  if (!IsValid()) return {LayoutFileProblem::NoSignature, {}};
  for (const KeyType& t : kKeyTypes) {
    const plist::Kind kind = plist::kindAt(dict_.get(), k(t.key));
    if (kind != plist::Kind::Absent && kind != t.kind)
      return {LayoutFileProblem::WrongType, k(t.key)};
  }
  for (const char* intKey : {key::DataFilter, key::FileFormat}) {
    if (auto v = plist::integerAt(dict_.get(), k(intKey)); v && !fitsInt(*v))
      return {LayoutFileProblem::WrongType, k(intKey)};
  }
  if (plist::Node cdText = plist::dictAt(dict_.get(), k(key::CDText))) {
    if (QString bad = cdTextProblem(cdText); !bad.isEmpty())
      return {LayoutFileProblem::WrongType, bad};
  }
  return {};
}

QString LayoutFileIO::stringValue(const char* name) const {
  return plist::stringAt(dict_.get(), k(name)).value_or(QString());
}

bool LayoutFileIO::IsDstCDImage() const {
  return DstVendor() == k(kCDImageVendor);
}
bool LayoutFileIO::IsSrcCDImage() const {
  return SrcVendor() == k(kCDImageVendor);
}

QString LayoutFileIO::DstVendor() const {
  return stringValue(key::DstVendor);
}
QString LayoutFileIO::DstModel() const {
  return stringValue(key::DstModel);
}
QString LayoutFileIO::DstVersion() const {
  return stringValue(key::DstVersion);
}
QString LayoutFileIO::DstCDImagePath() const {
  return stringValue(key::DstPath);
}
QString LayoutFileIO::DstISOImagePath() const {
  return stringValue(key::DstISOPath);
}
QString LayoutFileIO::SrcVendor() const {
  return stringValue(key::SrcVendor);
}
QString LayoutFileIO::SrcModel() const {
  return stringValue(key::SrcModel);
}
QString LayoutFileIO::SrcVersion() const {
  return stringValue(key::SrcVersion);
}
QString LayoutFileIO::SrcCDImagePath() const {
  return stringValue(key::SrcPath);
}
QString LayoutFileIO::Title() const {
  return stringValue(key::Title);
}
QString LayoutFileIO::VolumeSetName() const {
  return stringValue(key::VolumeSet);
}
QString LayoutFileIO::SystemName() const {
  return stringValue(key::System);
}
QString LayoutFileIO::PublisherName() const {
  return stringValue(key::Publisher);
}
QString LayoutFileIO::PreparerName() const {
  return stringValue(key::Preparer);
}

QByteArray LayoutFileIO::FSTreeMap() const {
  return plist::dataAt(dict_.get(), k(key::FSTreeMap)).value_or(QByteArray());
}

QByteArray LayoutFileIO::FSListMap() const {
  return plist::dataAt(dict_.get(), k(key::FSListMap)).value_or(QByteArray());
}

std::optional<LayoutCdText> LayoutFileIO::CdTextEntries() const {
  plist::Node cdText = plist::dictAt(dict_.get(), k(key::CDText));
  if (cdText == nullptr) return std::nullopt;
  LayoutCdText out;
  plist::forEachKey(cdText, [&](const QString& entry, plist::Kind kind) {
    if (kind != plist::Kind::Dictionary) return;
    const CdTextFields fields = readFields(plist::dictAt(cdText, entry));
    if (entry == k(kDiscEntry))
      out.disc = fields;
    else if (const int n = trackNumberOf(entry); n > 0)
      out.tracks[n] = fields;
  });
  return out;
}

int LayoutFileIO::dataFilterIndex() const {
  const auto v = plist::integerAt(dict_.get(), k(key::DataFilter));
  return v && fitsInt(*v) ? static_cast<int>(*v) : 0;
}

int LayoutFileIO::FileFormat() const {
  const auto v = plist::integerAt(dict_.get(), k(key::FileFormat));
  return v && fitsInt(*v) ? static_cast<int>(*v) : 2;
}

bool LayoutFileIO::discSpan() const {
  return plist::boolAt(dict_.get(), k(key::DiscSpan)).value_or(false);
}
bool LayoutFileIO::writeXA() const {
  return plist::boolAt(dict_.get(), k(key::WriteXA)).value_or(false);
}
bool LayoutFileIO::ignoreAlias() const {
  return plist::boolAt(dict_.get(), k(key::IgnoreAlias)).value_or(false);
}
bool LayoutFileIO::appendAppleExtension() const {
  return plist::boolAt(dict_.get(), k(key::AppleExt)).value_or(false);
}

void LayoutFileIO::SetDstDevice(const QString& vendor, const QString& model, const QString& version,
                                const QString& imagePath) {
  setDevice(dict_.get(), kDestinationKeys, {vendor, model, version, imagePath}, true);
}

void LayoutFileIO::SetDstISOImagePath(const QString& path) {
  setIfPresent(dict_.get(), key::DstISOPath, path, true);
}

void LayoutFileIO::SetSrcDevice(const QString& vendor, const QString& model, const QString& version,
                                const QString& imagePath) {
  setDevice(dict_.get(), kSourceKeys, {vendor, model, version, imagePath}, false);
}

void LayoutFileIO::SetTitle(const QString& title) {
  if (title.isNull())
    plist::remove(dict_.get(), k(key::Title));
  else
    plist::setString(dict_.get(), k(key::Title), title);
}

void LayoutFileIO::SetFSTreeMap(const QByteArray& map) {
  if (map.isNull())
    plist::remove(dict_.get(), k(key::FSTreeMap));
  else
    plist::setData(dict_.get(), k(key::FSTreeMap), map);
}

void LayoutFileIO::SetFSListMap(const QByteArray& map) {
  if (map.isNull())
    plist::remove(dict_.get(), k(key::FSListMap));
  else
    plist::setData(dict_.get(), k(key::FSListMap), map);
}

void LayoutFileIO::SetCDTextEntries(const std::optional<LayoutCdText>& entries) {
  if (!entries) {
    plist::remove(dict_.get(), k(key::CDText));
    return;
  }
  plist::Owned node = plist::newDict();
  if (entries->disc) plist::setNode(node.get(), k(kDiscEntry), fieldsNode(*entries->disc));
  for (const auto& [number, fields] : entries->tracks) {
    if (number > 0)
      plist::setNode(node.get(), k(kTrackEntryPrefix) + QString::number(number),
                     fieldsNode(fields));
  }
  plist::setNode(dict_.get(), k(key::CDText), std::move(node));
}

void LayoutFileIO::SetVolumeSetName(const QString& name) {
  setIfPresent(dict_.get(), key::VolumeSet, name, true);
}
void LayoutFileIO::SetSystemName(const QString& name) {
  setIfPresent(dict_.get(), key::System, name, true);
}
void LayoutFileIO::SetPublisherName(const QString& name) {
  setIfPresent(dict_.get(), key::Publisher, name, true);
}
void LayoutFileIO::SetPreparerName(const QString& name) {
  setIfPresent(dict_.get(), key::Preparer, name, true);
}

void LayoutFileIO::setDataFilterIndex(int index) {
  plist::setInteger(dict_.get(), k(key::DataFilter), index);
}
void LayoutFileIO::SetFileFormat(int format) {
  plist::setInteger(dict_.get(), k(key::FileFormat), format);
}
void LayoutFileIO::SetDiscSpan(bool on) {
  plist::setBool(dict_.get(), k(key::DiscSpan), on);
}
void LayoutFileIO::SetWriteXA(bool on) {
  plist::setBool(dict_.get(), k(key::WriteXA), on);
}
void LayoutFileIO::SetIgnoreAlias(bool on) {
  plist::setBool(dict_.get(), k(key::IgnoreAlias), on);
}
void LayoutFileIO::SetAppendAppleExtension(bool on) {
  plist::setBool(dict_.get(), k(key::AppleExt), on);
}

}  // namespace quillion
