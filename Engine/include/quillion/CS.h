// SPDX-License-Identifier: GPL-2.0-or-later
// Name and character-set conversion: node titles (UTF-8) into the forms each file system
// wants: UTF-16 for Joliet and UDF, 8.3 d-characters for ISO9660 level 1, a-characters
// for volume texts, short names for HFS. Producers convert with number 0 and, on a clash,
// retry with 1, 2, ... up to 999.
//
// Text that is not valid in its encoding (a title that is not UTF-8, UTF-16 with an
// unpaired surrogate) is refused: the output is left empty and the call answers
// kErrBadArgument, so a producer's retry loop ends instead of writing a broken name.
#pragma once

#include <cstdint>

#include "quillion/status.h"

// Length-counted UTF-16 in native byte order, room for 255 units, no terminator.
struct CS_UniStr {
  std::uint16_t length = 0;
  char16_t unicode[255] = {};
};

inline constexpr std::uint16_t kCS_UniStrMaxUnits = 255;
inline constexpr std::uint16_t kCS_UDFMaxUnits = 127;
inline constexpr std::uint16_t kCS_JolietMaxUnits = 64;
// What CS_To_ISO_8_3_Name writes at most, terminator included: 8 + '.' + 3 + ";1" + 1.
inline constexpr std::uint32_t kCS_ISO83NameBytes = 16;

// Encoding codes, as the original platform numbers them.
inline constexpr std::uint32_t kCS_EncodingMacRoman = 0;
inline constexpr std::uint32_t kCS_EncodingUnicodeDefault = 0x00000100;  // UTF-16, host order
inline constexpr std::uint32_t kCS_EncodingUTF8 = 0x08000100;
inline constexpr std::uint32_t kCS_EncodingUTF16BE = 0x10000100;
inline constexpr std::uint32_t kCS_EncodingSystemDefault = 0xFFFF;  // UTF-8 on this system

struct CS_UCRecord;
using CS_UCRef = CS_UCRecord*;

// The platform interface version; above 620 (or not a number) converters compose,
// otherwise they decompose. Set once at start-up, before any converter is made.
void CS_UC_SetAPKitVersion(double version);

// Null when the record cannot be made or the encoding is unknown. A null pointer, or one
// that holds 0xFFFF, asks for the system's encoding, which is written back.
CS_UCRef CS_UC_Init(std::uint32_t* encoding);
void CS_UC_Term(CS_UCRef* ref);

// Text of the converter's encoding to UTF-16 (at most 255 units, cut at a character).
[[nodiscard]] EngineStatus CS_UC_To_UnicodeStr(CS_UCRef ref, const char* text, CS_UniStr* out,
                                               bool decompose);
// UTF-16 back to the converter's encoding, at most `size` - 1 bytes (never a partial
// character), terminated. A character the encoding lacks becomes '?'.
[[nodiscard]] EngineStatus CS_UC_From_UnicodeStr(CS_UCRef ref, const CS_UniStr* in, char* buffer,
                                                 std::uint32_t size);
// Normalised UTF-16 of at most 127 units.
[[nodiscard]] EngineStatus CS_UC_To_UDF_UnicodeStr(CS_UCRef ref, const char* text, CS_UniStr* out);
// A Joliet name: normalised, forbidden units replaced, at most 64 units with the number
// (at most 7 digits) inserted before the extension. The base is shortened so that base,
// number and extension always fit in 64 units.
[[nodiscard]] EngineStatus CS_UC_To_JolietStr(CS_UCRef ref, const char* text, CS_UniStr* out,
                                              std::uint32_t number, bool flag);

std::uint16_t CS_To_D_Chars_Set(const char* text, char* out, std::uint32_t size);
std::uint16_t CS_To_A_Chars_Set(const char* text, char* out, std::uint32_t size);
// `out` holds kCS_ISO83NameBytes. 0 for an empty name or a number of more than 8 digits.
std::uint16_t CS_To_ISO_8_3_Name(const char* name, char* out, std::uint32_t number, bool isFolder,
                                 bool withVersion);
// The name with * / : ; ? \ replaced, ";1" appended with `withVersion`; at most `size` - 1
// bytes, terminated.
std::uint16_t CS_To_ISO_Romeo(const char* name, char* out, bool withVersion, std::uint32_t size);
// 0, or -1 when the name cannot be cut (see the implementation). `out` holds
// maxLength + 1 bytes. A cut never splits a UTF-8 character.
[[nodiscard]] std::int16_t CS_TruncateFileName(const char* name, char* out, std::uint32_t number,
                                               std::uint32_t maxLength);
std::uint16_t CS_ULong_To_Chars(std::uint32_t value, char* buffer, std::uint32_t size);

// The object form of the converter functions. Term ends the converter; destruction ends
// it too when Term was not called, so a forgotten Term leaks nothing.
class UnicodeConverter {
 public:
  UnicodeConverter() = default;
  UnicodeConverter(const UnicodeConverter&) = delete;
  UnicodeConverter& operator=(const UnicodeConverter&) = delete;
  ~UnicodeConverter() { Term(); }

  bool Init(std::uint32_t* encoding);
  void Term();
  [[nodiscard]] EngineStatus FromUnicodeStr(const CS_UniStr* in, char* buffer, std::uint32_t size);
  [[nodiscard]] EngineStatus ToUnicodeStr(const char* text, CS_UniStr* out, bool decompose);
  [[nodiscard]] EngineStatus ToUDFUnicodeStr(const char* text, CS_UniStr* out);
  [[nodiscard]] EngineStatus ToJolietStr(const char* text, CS_UniStr* out, std::uint32_t number,
                                         bool flag);

 private:
  CS_UCRef ref_ = nullptr;
};
