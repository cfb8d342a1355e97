// SPDX-License-Identifier: GPL-2.0-or-later
// Puts the compiled-in string tables in place for one test, without any user overrides, and
// lets the next use load afresh afterwards.
#pragma once

#include "framework/messages.h"

namespace quillion::test {

class ScopedBuiltInMessages {
 public:
  ScopedBuiltInMessages() {
    Msg::install(std::make_shared<const MessageCatalog>(MessageCatalog::load(QString())));
  }
  ~ScopedBuiltInMessages() { Msg::install(nullptr); }
  ScopedBuiltInMessages(const ScopedBuiltInMessages&) = delete;
  ScopedBuiltInMessages& operator=(const ScopedBuiltInMessages&) = delete;
};

}  // namespace quillion::test
