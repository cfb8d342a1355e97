// SPDX-License-Identifier: GPL-2.0-or-later
// Extended attributes of one entry, never following a link at the end of the path. A file
// carries its resource fork and Finder information in two user attributes; an attribute
// that is not there (or a file system without attributes) reads as absent, while one that
// exists but cannot be read is an error, so a fork is never taken for empty by mistake.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "quillion/status.h"

namespace quillion {

inline constexpr const char* kResourceForkXattr = "user.com.apple.ResourceFork";
inline constexpr const char* kFinderInfoXattr = "user.com.apple.FinderInfo";

// Size in bytes of the attribute, 0 when absent. kErrFileAccess on any other failure.
[[nodiscard]] EngineStatus xattrSize(const std::string& path, const char* name,
                                     std::uint64_t& size);

// The attribute's bytes; empty when absent. kErrFileAccess on any other failure.
[[nodiscard]] EngineStatus readXattr(const std::string& path, const char* name,
                                     std::vector<std::uint8_t>& out);

}  // namespace quillion
