// SPDX-License-Identifier: GPL-2.0-or-later
// The converter record and the UTF-16 name forms (plain, UDF, Joliet).
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "platform/text/normalization.h"
#include "platform/text/text_encoding.h"
#include "quillion/CS.h"
#include "tree/name_units.h"

using quillion::NormalForm;
using quillion::TextConverter;
using quillion::TextEncoding;

struct CS_UCRecord {
  TextEncoding encoding = TextEncoding::utf8;
  std::unique_ptr<TextConverter> toUnicode;
  std::unique_ptr<TextConverter> fromUnicode;
  NormalForm form = NormalForm::composed;
};

namespace {

std::atomic<double> s_curAppKitVersion{663.0};

bool encodingFromCode(std::uint32_t code, TextEncoding& out) {
  switch (code) {
    case kCS_EncodingMacRoman:
      out = TextEncoding::macRoman;
      return true;
    case kCS_EncodingUnicodeDefault:
      out = TextEncoding::utf16Native;
      return true;
    case kCS_EncodingUTF8:
      out = TextEncoding::utf8;
      return true;
    case kCS_EncodingUTF16BE:
      out = TextEncoding::utf16BE;
      return true;
    default:
      return false;
  }
}

NormalForm formForVersion(double version) {
  if (std::isnan(version)) return NormalForm::composed;
  return std::trunc(version) > 620 ? NormalForm::composed : NormalForm::decomposed;
}

void store(const std::u16string& units, CS_UniStr* out) {
  const std::size_t n = std::min<std::size_t>(units.size(), kCS_UniStrMaxUnits);
  std::copy_n(units.begin(), n, out->unicode);
  out->length = static_cast<std::uint16_t>(n);
}

EngineStatus toUnits(CS_UCRef ref, const char* text, std::u16string& out) {
  out.clear();
  std::string bytes;
  if (const EngineStatus s = ref->toUnicode->convert(text, bytes); s != kNoErr) return s;
  out.resize(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  quillion::cutUnits(out, kCS_UniStrMaxUnits);
  return kNoErr;
}

EngineStatus toNormalisedUnits(CS_UCRef ref, const char* text, std::u16string& out) {
  std::u16string plain;
  if (const EngineStatus s = toUnits(ref, text, plain); s != kNoErr) return s;
  if (const EngineStatus s = quillion::normalizeUtf16(plain, ref->form, out); s != kNoErr) return s;
  quillion::cutUnits(out, kCS_UniStrMaxUnits);
  return kNoErr;
}

bool usable(CS_UCRef ref) {
  return ref != nullptr && ref->toUnicode && ref->fromUnicode;
}

}  // namespace

void CS_UC_SetAPKitVersion(double version) {
  s_curAppKitVersion = version;
}

CS_UCRef CS_UC_Init(std::uint32_t* encoding) {
  std::uint32_t code = kCS_EncodingSystemDefault;
  if (encoding != nullptr) code = *encoding;
  if (code == kCS_EncodingSystemDefault) {
    code = kCS_EncodingUTF8;
    if (encoding != nullptr) *encoding = code;
  }
  auto record = std::make_unique<CS_UCRecord>();
  if (!encodingFromCode(code, record->encoding)) return nullptr;
  if (TextConverter::create(record->encoding, TextEncoding::utf16Native, record->toUnicode) !=
          kNoErr ||
      TextConverter::create(TextEncoding::utf16Native, record->encoding, record->fromUnicode) !=
          kNoErr)
    return nullptr;
  record->form = formForVersion(s_curAppKitVersion);
  return record.release();
}

void CS_UC_Term(CS_UCRef* ref) {
  if (ref == nullptr || *ref == nullptr) return;
  delete *ref;
  *ref = nullptr;
}

EngineStatus CS_UC_To_UnicodeStr(CS_UCRef ref, const char* text, CS_UniStr* out, bool) {
  if (!usable(ref) || text == nullptr || out == nullptr) return kErrBadArgument;
  std::u16string units;
  const EngineStatus s = toUnits(ref, text, units);
  store(units, out);
  return s;
}

EngineStatus CS_UC_From_UnicodeStr(CS_UCRef ref, const CS_UniStr* in, char* buffer,
                                   std::uint32_t size) {
  if (!usable(ref) || in == nullptr || buffer == nullptr || size == 0) return kErrBadArgument;
  buffer[0] = '\0';
  const std::size_t units = std::min<std::size_t>(in->length, kCS_UniStrMaxUnits);
  std::string bytes;
  const EngineStatus s = ref->fromUnicode->convert(
      std::string_view(reinterpret_cast<const char*>(in->unicode), units * 2), bytes);
  if (s != kNoErr) return s;
  quillion::cutBytesAtCharacter(bytes, size - 1, ref->encoding);
  std::memcpy(buffer, bytes.data(), bytes.size());
  buffer[bytes.size()] = '\0';
  return kNoErr;
}

EngineStatus CS_UC_To_UDF_UnicodeStr(CS_UCRef ref, const char* text, CS_UniStr* out) {
  if (out == nullptr) return kErrBadArgument;
  out->length = 0;
  if (!usable(ref) || text == nullptr) return kErrBadArgument;
  std::u16string units;
  if (const EngineStatus s = toNormalisedUnits(ref, text, units); s != kNoErr) return s;
  quillion::cutUnits(units, kCS_UDFMaxUnits);
  store(units, out);
  return kNoErr;
}

EngineStatus CS_UC_To_JolietStr(CS_UCRef ref, const char* text, CS_UniStr* out,
                                std::uint32_t number, bool) {
  if (out == nullptr) return kErrBadArgument;
  out->length = 0;
  if (!usable(ref) || text == nullptr || *text == '\0') return kErrBadArgument;
  std::u16string units;
  if (const EngineStatus s = toNormalisedUnits(ref, text, units); s != kNoErr) return s;
  std::u16string name;
  if (const EngineStatus s = quillion::makeJolietName(units, number, name); s != kNoErr) return s;
  store(name, out);
  return kNoErr;
}

bool UnicodeConverter::Init(std::uint32_t* encoding) {
  Term();
  ref_ = CS_UC_Init(encoding);
  return ref_ != nullptr;
}

void UnicodeConverter::Term() {
  CS_UC_Term(&ref_);
}

EngineStatus UnicodeConverter::FromUnicodeStr(const CS_UniStr* in, char* buffer,
                                              std::uint32_t size) {
  return CS_UC_From_UnicodeStr(ref_, in, buffer, size);
}

EngineStatus UnicodeConverter::ToUnicodeStr(const char* text, CS_UniStr* out, bool decompose) {
  return CS_UC_To_UnicodeStr(ref_, text, out, decompose);
}

EngineStatus UnicodeConverter::ToUDFUnicodeStr(const char* text, CS_UniStr* out) {
  return CS_UC_To_UDF_UnicodeStr(ref_, text, out);
}

EngineStatus UnicodeConverter::ToJolietStr(const char* text, CS_UniStr* out, std::uint32_t number,
                                           bool flag) {
  return CS_UC_To_JolietStr(ref_, text, out, number, flag);
}
