// SPDX-License-Identifier: GPL-2.0-or-later
// Fixtures that an outside tool makes from synthetic sources (ffmpeg's lavfi signals), kept
// between the test processes of one build: the suites run as several processes, each of
// which would otherwise encode the same streams again, and encoding is most of their time.
#pragma once

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace quillion::test {

// Runs argv like runTool. When the command writes one file from synthetic sources only (its
// last argument is that file; every "-i" reads a "-f lavfi" source; no other argument is an
// absolute path), a file made by the same command and the same tool before is copied to the last
// argument instead, from <build>/test-cache/ (QUILLION_BINARY_DIR, which CTest sets). Any
// other command, or no cache folder, just runs.
[[nodiscard]] ToolResult runGenerator(const std::vector<std::string>& argv);

// True when runGenerator may answer argv from the cache (exposed for its own tests).
[[nodiscard]] bool generatorIsCacheable(const std::vector<std::string>& argv);

}  // namespace quillion::test
