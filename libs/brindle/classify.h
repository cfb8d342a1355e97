// SPDX-License-Identifier: GPL-2.0-or-later
// The stream-type code: which disc or broadcast format (Video CD, Super Video CD, DVD, the
// transport-stream HD and 4:2:2 intra kinds) an opened input already complies with, derived
// from the video and audio header facts and the system-stream type in the session record.
#pragma once

#include <cstdint>

#include "brindle.h"

namespace quillion::brindle {

std::uint32_t stream_type_code(const mpeg_in_info* record);
// Stores stream_type_code in the record.
void classify_stream(mpeg_in_info* record);

}  // namespace quillion::brindle
