// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/job/job_log.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <vector>

#include "quillion/GU.h"
#include "quillion/clock.h"

namespace quillion::burn {

void logText(const BP_RuntimeSharedData& shared, std::string_view text) {
  if (std::FILE* file = shared.logFile.load()) (void)GU_Log_Write(file, text.data(), text.size());
}

void logFormat(const BP_RuntimeSharedData& shared, const char* format, ...) {
  if (!shared.logFile.load()) return;
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (length > 0) {
    std::vector<char> text(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    logText(shared, std::string_view(text.data(), static_cast<std::size_t>(length)));
  }
  va_end(again);
}

std::string logTimeText() {
  const auto now = std::chrono::time_point_cast<std::chrono::seconds>(engineClock().wallNow());
  const std::time_t t = static_cast<std::time_t>(now.time_since_epoch().count());
  char text[64] = {};
  return ::ctime_r(&t, text) ? std::string(text) : std::string("\n");
}

}  // namespace quillion::burn
