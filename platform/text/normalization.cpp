// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/text/normalization.h"

#include <unicode/unorm2.h>

#include "platform/text/text_encoding.h"

namespace quillion {

EngineStatus normalizeUtf16(std::u16string_view text, NormalForm form, std::u16string& out) {
  out.clear();
  if (!isValidUtf16(text)) return kErrBadArgument;
  if (text.empty()) return kNoErr;
  UErrorCode error = U_ZERO_ERROR;
  const UNormalizer2* normalizer =
      form == NormalForm::composed ? unorm2_getNFCInstance(&error) : unorm2_getNFDInstance(&error);
  if (U_FAILURE(error)) return kErrOutOfMemory;
  const auto length = static_cast<int32_t>(text.size());
  // Decomposition can at most triple a unit count for the scripts in use; grow when asked.
  out.resize(text.size() * 3 + 8);
  int32_t written = unorm2_normalize(normalizer, text.data(), length, out.data(),
                                     static_cast<int32_t>(out.size()), &error);
  if (error == U_BUFFER_OVERFLOW_ERROR) {
    error = U_ZERO_ERROR;
    out.resize(static_cast<std::size_t>(written));
    written = unorm2_normalize(normalizer, text.data(), length, out.data(),
                               static_cast<int32_t>(out.size()), &error);
  }
  if (U_FAILURE(error)) {
    out.clear();
    return kErrBadArgument;
  }
  out.resize(static_cast<std::size_t>(written));
  return kNoErr;
}

}  // namespace quillion
