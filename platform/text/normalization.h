// SPDX-License-Identifier: GPL-2.0-or-later
// Unicode canonical composition and decomposition (NFC, NFD) of UTF-16 text, through
// ICU's normalizer.
#pragma once

#include <string>
#include <string_view>

#include "quillion/status.h"

namespace quillion {

enum class NormalForm { composed, decomposed };

// kErrBadArgument for text with unpaired surrogates.
[[nodiscard]] EngineStatus normalizeUtf16(std::u16string_view text, NormalForm form,
                                          std::u16string& out);

}  // namespace quillion
